#pragma once

#include <QHash>
#include <QObject>
#include <QProcess>
#include <QVector>

// One eflash.exe run for a batch of devices. eflash.exe serves the boot
// loaders' UDP ports 67 and 69, so only one may run at a time; with one
// device it takes the screen's command line and prints "% Complete: N%" and
// "ERROR: ..." lines, with several it takes "-i IP -m MAC IMAGE" repeated
// and starts each line with the device's address ("10.0.5.7: ...").
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

    FlashBatch(const QString &flasher, const QVector<Device> &devices, QObject *parent = nullptr);
    ~FlashBatch() override;

    // How many devices one run of `flasher` takes, at most `wanted`: 1 for an
    // eflash.exe whose usage does not offer several.
    static int devicesPerRun(const QString &flasher, int wanted);

    void start();

signals:
    void progress(const QString &address, int percent);
    // `error` is empty when the device was flashed.
    void deviceDone(const QString &address, const QString &error);
    void finished();

private:
    struct State
    {
        int percent = -1;
        QString error;
        bool done = false;
    };

    void readOutput();
    void takeLine(const QString &address, const QString &text);
    void processEnded(int exitCode, QProcess::ExitStatus status);
    void failAll(const QString &error);

    QString m_flasher;
    QVector<Device> m_devices;
    QHash<QString, State> m_states;
    QProcess m_process;
};
