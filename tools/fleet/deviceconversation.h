#pragma once

#include <QObject>
#include <QPointer>
#include <QVariant>

class ProbeEngine;

// C++ face of one device's probe conversation (DeviceProbe.qml): the index
// check, the full probe and the update-code upload, each through the
// screen's probe worker. Deleting it closes whatever the worker still has open.
class DeviceConversation : public QObject
{
    Q_OBJECT

public:
    struct Probed
    {
        bool initfail = true;
        bool unauthorized = false;
        QString type;
        QString kindName;
        QString generation;
        QString deviceText;
        QString letter;
        QString updateCode;
    };

    DeviceConversation(ProbeEngine *engine, const QString &address, int windowMs, QObject *parent = nullptr);
    ~DeviceConversation() override;

    bool isValid() const { return m_script != nullptr; }
    // Only while nothing of the earlier address can still be on its way.
    void setAddress(const QString &address);

    void checkIndex();
    void probe(const QString &password);
    void upload(const QString &password, const QString &code);

signals:
    // `status` 0: the connection failed; -1: nothing came within the window.
    void indexChecked(int status, bool velquor);
    void probed(const DeviceConversation::Probed &result);
    // The upload's HTTP status; -1: no end within the window.
    void uploaded(int status);

private slots:
    void takeIndex(int status, bool velquor);
    void takeUploaded(int status);
    void takeFinding(const QVariant &finding);

private:
    QObject *m_script = nullptr;
};
