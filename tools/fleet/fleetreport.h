#pragma once

#include "devicefinding.h"
#include "fleetresult.h"

#include <QDateTime>
#include <QString>
#include <QVector>

// The results file: one entry per Velquor device, in address order, written
// as JSON and replaced atomically, so a reader sees the old report or the new one whole.
class FleetReport
{
public:
    struct Entry
    {
        DeviceFinding device;
        FleetResult result = FleetResult::Found;
        QString image;
        QString imageSha256;
        QString error;
        // What the result alone does not tell, e.g. an unconfirmed last block.
        QString note;
        double seconds = 0;
    };

    void markStarted() { m_started = QDateTime::currentDateTimeUtc(); }
    void markFinished() { m_finished = QDateTime::currentDateTimeUtc(); }
    void add(const Entry &entry) { m_entries.append(entry); }
    // Why the run left devices untouched: a canary, the failure budget, Ctrl-C.
    void setStopped(const QString &reason) { m_stopped = reason; }
    const QVector<Entry> &entries() const { return m_entries; }

    QByteArray toJson() const;
    // False, with `error` set, when the file cannot be written.
    bool write(const QString &path, QString *error) const;

private:
    QDateTime m_started;
    QDateTime m_finished;
    QString m_stopped;
    QVector<Entry> m_entries;
};
