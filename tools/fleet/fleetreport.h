#pragma once

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
        QString address;
        QString mac;
        QString kind;
        QString generation;
        QString letter;
        QString image;
        QString imageSha256;
        QString result;
        QString error;
        double seconds = 0;
    };

    void markStarted() { m_started = QDateTime::currentDateTimeUtc(); }
    void markFinished() { m_finished = QDateTime::currentDateTimeUtc(); }
    void add(const Entry &entry) { m_entries.append(entry); }
    const QVector<Entry> &entries() const { return m_entries; }

    QByteArray toJson() const;
    // False, with `error` set, when the file cannot be written.
    bool write(const QString &path, QString *error) const;

private:
    QDateTime m_started;
    QDateTime m_finished;
    QVector<Entry> m_entries;
};
