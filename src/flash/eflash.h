#pragma once

#include <QProcess>
#include <QString>

// Drives the external Ethernet boot-loader flasher and checks firmware images
// before they are handed to it.
class eFlash : public QProcess
{
    Q_OBJECT
    Q_PROPERTY(int progress READ progress WRITE setProgress NOTIFY progressChanged)

public:
    eFlash();
    ~eFlash() override;

    int progress() const;
    void setProgress(int value);

signals:
    void progressChanged();
    void fileInvalid();
    // The run failed: an ERROR line, or an end by crash or with a non-zero
    // exit status (raised just before `finished`). Hides QProcess::error();
    // the scene sees only this argument-free one.
    void error();
    // Part of the scene-facing interface; nothing emits them.
    void sendProgress(QString val);
    void valid(QString val);

private slots:
    void readOutput();
    void done();

public:
    Q_INVOKABLE void flash(QString ip, QString mac);
    Q_INVOKABLE void deleteTemp();
    Q_INVOKABLE void testFile(QString file, QString type);

private:
    int m_progress = 0;
};
