#pragma once

#include <QHash>
#include <QObject>
#include <QProcess>
#include <QVector>

// The scan's ARP stage on the local segment: one `arpping.exe --sweep` run
// asks every target address on a directly attached Ethernet link at once.
// An address it asked and that did not answer is empty and needs no
// connect; one it could not ask (routed, loopback, raw ARP not permitted)
// is left to the connect sweep.
class LinkSweep : public QObject
{
    Q_OBJECT

public:
    LinkSweep(const QString &arpTool, QObject *parent = nullptr);
    ~LinkSweep() override;

    // Without an ARP tool it finishes at once, having asked nothing.
    void start(const QVector<quint32> &addresses);
    void stop();

    bool asked(quint32 address) const;
    // The MAC address that answered for `address`, "" when none did.
    QString macOf(quint32 address) const { return m_macs.value(address); }

signals:
    void finished();

private:
    void readOutput();
    void finishOnce();

    QString m_arpTool;
    QProcess m_process;
    QHash<quint32, QString> m_macs;
    QVector<QPair<quint32, quint32>> m_asked;
    bool m_finished = false;
};
