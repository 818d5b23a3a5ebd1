#pragma once

#include <QHash>
#include <QObject>
#include <QProcess>
#include <QVector>

// The scan's ARP stage on the local segment: one `arpping.exe --sweep` run
// asks every target address on a directly attached Ethernet link, and each
// host that answered whether it takes connections on the web port. An
// address it asked and that did not answer is empty and needs no connect,
// nor does a host whose port it found closed or silent; one it could not
// ask (routed, loopback, raw ARP not permitted), or whose port it could not
// tell, is left to the connect sweep.
class LinkSweep : public QObject
{
    Q_OBJECT

public:
    enum class Port { Unknown, Open, Closed, Silent };

    LinkSweep(const QString &arpTool, quint16 port = 80, QObject *parent = nullptr);
    ~LinkSweep() override;

    // Without an ARP tool it finishes at once, having asked nothing.
    void start(const QVector<quint32> &addresses);
    void stop();

    bool asked(quint32 address) const;
    // The MAC address that answered for `address`, "" when none did.
    QString macOf(quint32 address) const { return m_macs.value(address); }
    // What the host at `address` said on the web port.
    Port port(quint32 address) const { return m_ports.value(address, Port::Unknown); }
    // What a sweep that ran said on standard error (a receive buffer it
    // could not raise, and so swept more slowly): worth an administrator's
    // eye. A sweep that could not run says only why, and the connects cover it.
    QStringList notes() const { return m_notes; }

signals:
    void finished();

private:
    void readOutput();
    void finishOnce();

    QString m_arpTool;
    quint16 m_port;
    QProcess m_process;
    QHash<quint32, QString> m_macs;
    QHash<quint32, Port> m_ports;
    QVector<QPair<quint32, quint32>> m_asked;
    QStringList m_notes;
    bool m_finished = false;
};
