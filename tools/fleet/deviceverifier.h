#pragma once

#include "devicefinding.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>

class DeviceConversation;
class ProbeEngine;

// After a flash: asks the device again and again, through the same index
// check and probe as the scan, until its web interface answers with the
// same kind letter, or the time is up.
class DeviceVerifier : public QObject
{
    Q_OBJECT

public:
    DeviceVerifier(ProbeEngine *engine, quint32 address, const QString &password,
                   const QString &letter, int seconds, QObject *parent = nullptr);
    ~DeviceVerifier() override;

    void start();
    // The device's answer that ended a good check: its update page is a new
    // one after the reboot.
    const DeviceFinding &answer() const { return m_answer; }

signals:
    // `error` empty: the device is back with its kind.
    void done(const QString &error);

private:
    void attempt();
    void retryOrGiveUp();

    ProbeEngine *m_engine;
    quint32 m_address;
    QString m_password;
    QString m_letter;
    int m_seconds;
    QString m_lastSeen;
    DeviceFinding m_answer;
    QElapsedTimer m_clock;
    std::unique_ptr<DeviceConversation> m_conversation;
};
