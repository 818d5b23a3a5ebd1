#include "faketooldir.h"

#include <QFile>
#include <QSignalSpy>

FakeToolDir::FakeToolDir(QObject *parent)
    : QObject(parent)
    , m_previousDir(QDir::currentPath())
{
    QDir::setCurrent(m_dir.path());
    // Spies on the tools' process signals need their argument types known.
    qRegisterMetaType<QProcess::ExitStatus>();
    qRegisterMetaType<QProcess::ProcessError>();
}

FakeToolDir::~FakeToolDir()
{
    QDir::setCurrent(m_previousDir);
}

QString FakeToolDir::path() const
{
    return m_dir.path();
}

bool FakeToolDir::install(const QString &fileName, const QString &shellBody)
{
    // Arguments are stored NUL-separated so that any argument text survives.
    const QString script = QStringLiteral("#!/bin/sh\n"
                                          "printf '%s\\0' \"$@\" > '%1.args'\n"
                                          "echo run >> '%1.runs'\n")
                               .arg(fileName)
        + shellBody + QLatin1Char('\n');
    const QString full = m_dir.filePath(fileName);
    QFile file(full);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(script.toUtf8());
    file.close();
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                               | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                               | QFileDevice::ExeGroup);
}

bool FakeToolDir::installPrinter(const QString &fileName, const QByteArray &output)
{
    const QString outputFile = fileName + QStringLiteral(".output");
    return writeFile(outputFile, output) && install(fileName, QStringLiteral("cat '%1'").arg(outputFile));
}

bool FakeToolDir::runToEnd(QProcess &tool, const std::function<void()> &start)
{
    QSignalSpy finished(&tool, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    start();
    return finished.wait(10000);
}

QStringList FakeToolDir::lastArguments(const QString &fileName) const
{
    const QByteArray raw = readFile(fileName + QStringLiteral(".args"));
    QStringList arguments;
    int start = 0;
    for (int end = raw.indexOf('\0'); end >= 0; start = end + 1, end = raw.indexOf('\0', start))
        arguments << QString::fromUtf8(raw.mid(start, end - start));
    return arguments;
}

int FakeToolDir::runCount(const QString &fileName) const
{
    return readFile(fileName + QStringLiteral(".runs")).count('\n');
}

bool FakeToolDir::exists(const QString &fileName) const
{
    return QFile::exists(m_dir.filePath(fileName));
}

bool FakeToolDir::remove(const QString &fileName)
{
    return QFile::remove(m_dir.filePath(fileName));
}

QByteArray FakeToolDir::readFile(const QString &fileName) const
{
    QFile file(m_dir.filePath(fileName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool FakeToolDir::writeFile(const QString &fileName, const QByteArray &content)
{
    QFile file(m_dir.filePath(fileName));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size();
}
