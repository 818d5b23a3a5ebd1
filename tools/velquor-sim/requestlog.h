#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QString>

// Records what the simulated device saw, one JSON object per line, flushed
// at once so that a test can read the file while the device runs.
class RequestLog
{
public:
    RequestLog();

    // An empty name or "-" logs to standard output.
    bool open(const QString &fileName);
    QString errorString() const { return m_file.errorString(); }

    // Adds "event" and "ms" (time since start) to `fields`.
    void write(const QString &event, QJsonObject fields);

private:
    QFile m_file;
    QElapsedTimer m_clock;
};
