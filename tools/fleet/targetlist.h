#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

// Turns the command line's targets into the addresses to probe, in order and
// each once. A target is a dotted address (leading zeros read as decimal), a
// range "10.0.5.20-60" or "10.0.5.20-10.0.6.10", a block "10.0.5.0/24" no
// wider than /16, or "@FILE" holding one target per line with "#" comments.
class TargetList
{
public:
    // False, with error() naming the target, when one cannot be read.
    bool add(const QString &target);
    bool addAll(const QStringList &targets);

    const QVector<quint32> &addresses() const { return m_addresses; }
    QString error() const { return m_error; }

    // The widest block or range accepted: a /16.
    static constexpr quint32 largestSpan = 65536;

    static QString text(quint32 address);

private:
    bool addFile(const QString &path);
    bool addSpan(quint32 first, quint32 last, const QString &target);
    bool fail(const QString &message);

    QVector<quint32> m_addresses;
    QSet<quint32> m_seen;
    QString m_error;
    int m_fileDepth = 0;
};
