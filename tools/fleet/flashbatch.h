#pragma once

#include "boundprocess.h"

#include <QHash>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QVector>

// One eflash.exe run for a batch of devices. eflash.exe serves the boot
// loaders' UDP ports 67 and 69, so only one may run at a time. It takes
// "-i IP -m MAC IMAGE" once per device; with several devices every output
// line starts with the device's address ("10.0.5.7: ...").
class FlashBatch : public QObject
{
    Q_OBJECT

public:
    struct Device
    {
        QString address;
        QString mac;
        QString image;
    };

    // How one device's flash ended.
    struct Outcome
    {
        enum class Kind {
            Flashed,
            // Every block went out but the last one's acknowledgement never
            // came: the device may have the whole image, its answer decides.
            Unconfirmed,
            Failed,
        };
        Kind kind = Kind::Failed;
        QString error;       // what to report when not flashed
        QStringList errors;  // the device's ERROR lines, as printed
        int exitStatus = -1; // the flasher's, -1 when it did not exit normally
    };

    FlashBatch(const QString &flasher, const QVector<Device> &devices, QObject *parent = nullptr);
    ~FlashBatch() override;

    void start();

signals:
    void progress(const QString &address, int percent);
    void deviceDone(const QString &address, const FlashBatch::Outcome &outcome);
    void finished();

private:
    struct State
    {
        int percent = -1;
        QStringList errors;
        bool unconfirmed = false;
        bool done = false;
    };

    void readOutput();
    void processEnded(int exitCode, QProcess::ExitStatus status);
    void failAll(const QString &error);

    QString m_flasher;
    QVector<Device> m_devices;
    QHash<QString, State> m_states;
    BoundProcess m_process;
};

Q_DECLARE_METATYPE(FlashBatch::Outcome)
