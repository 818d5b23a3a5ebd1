#pragma once

#include "devicefinding.h"

#include <QObject>
#include <QVariant>

class ProbeEngine;

// C++ face of one device's probe conversation (DeviceProbe.qml): the index
// check, the full probe and the update-code upload, each through the
// screen's probe worker. Deleting it closes whatever the worker still has open.
class DeviceConversation : public QObject
{
    Q_OBJECT

public:
    // How long a device has to answer, as on the screen.
    static constexpr int probeWindowMs = 3000;

    DeviceConversation(ProbeEngine *engine, quint32 address, int windowMs, QObject *parent = nullptr);
    ~DeviceConversation() override;

    bool isValid() const { return m_script != nullptr; }
    // Only while nothing of the earlier address can still be on its way.
    void setAddress(quint32 address);

    void checkIndex();
    void probe(const QString &password);
    void upload(const QString &password, const QString &code);

signals:
    // `status` 0: the connection failed; -1: nothing came within the window.
    void indexChecked(int status, bool velquor);
    // Address and the probe's answers filled in; MAC and password are the
    // caller's to add.
    void probed(const DeviceFinding &finding);
    // The upload's HTTP status; -1: no end within the window.
    void uploaded(int status);

private slots:
    void takeIndex(int status, bool velquor);
    void takeUploaded(int status);
    void takeFinding(const QVariant &finding);

private:
    quint32 m_address = 0;
    QObject *m_script = nullptr;
};
