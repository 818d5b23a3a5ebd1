#include "consoleoutput.h"

#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {

bool humanOutputToError = false;

} // namespace

void printOut(const QString &text)
{
    FILE *stream = humanOutputToError ? stderr : stdout;
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

void moveHumanOutputToError()
{
    humanOutputToError = true;
}

void printForMachine(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void printError(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

bool outputIsTerminal()
{
    return isatty(humanOutputToError ? STDERR_FILENO : STDOUT_FILENO) == 1;
}

bool errorIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

bool inputIsTerminal()
{
    return isatty(STDIN_FILENO) == 1;
}

bool askYesNo(const QString &question)
{
    printOut(question + QStringLiteral(" [y/N] "));
    QTextStream input(stdin);
    const QString answer = input.readLine().trimmed().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}
