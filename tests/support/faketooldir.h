#pragma once

#include <QDir>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// A scratch working directory holding small shell scripts that stand in for
// the external tools. Each script records its arguments before running the
// scripted body, so tests can check the exact command line. The directory is
// the current working directory for as long as the object lives.
class FakeToolDir : public QObject
{
    Q_OBJECT

public:
    explicit FakeToolDir(QObject *parent = nullptr);
    ~FakeToolDir() override;

    Q_INVOKABLE QString path() const;
    // Writes `fileName` as an executable script that runs `shellBody`.
    Q_INVOKABLE bool install(const QString &fileName, const QString &shellBody);
    // Installs `fileName` as a tool that prints `output` byte for byte.
    Q_INVOKABLE bool installPrinter(const QString &fileName, const QByteArray &output);
    // The arguments of the latest run of `fileName`, exactly as received.
    Q_INVOKABLE QStringList lastArguments(const QString &fileName) const;
    // How many times `fileName` has been started.
    Q_INVOKABLE int runCount(const QString &fileName) const;
    Q_INVOKABLE bool exists(const QString &fileName) const;
    Q_INVOKABLE bool remove(const QString &fileName);
    Q_INVOKABLE QByteArray readFile(const QString &fileName) const;
    Q_INVOKABLE bool writeFile(const QString &fileName, const QByteArray &content);

    // Calls `start` and runs the event loop until `tool` ends, for ten seconds
    // at most; false if it did not end.
    static bool runToEnd(QProcess &tool, const std::function<void()> &start);

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
};
