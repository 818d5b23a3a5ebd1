#include "consoleoutput.h"

#include <QTextStream>

#include <cstdio>
#include <unistd.h>

void printOut(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void printError(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

bool outputIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
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
