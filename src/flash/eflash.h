#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Drives the external Ethernet boot-loader flasher and checks firmware images
// before they are handed to it.
class eFlash : public QProcess
{
    Q_OBJECT
    Q_PROPERTY(int progress READ progress WRITE setProgress NOTIFY progressChanged)
    // What the last run left for the flash history, read once it has ended.
    Q_PROPERTY(QStringList errorLines READ errorLines)
    Q_PROPERTY(int lastExitStatus READ lastExitStatus)
    // Of the image the last check accepted, empty after a refusal.
    Q_PROPERTY(QString imageSha256 READ imageSha256)

public:
    eFlash();
    ~eFlash() override;

    int progress() const;
    void setProgress(int value);
    // The run's ERROR lines, and a tool that could not be started.
    QStringList errorLines() const { return m_errorLines; }
    // The flasher's exit status; -1 while it runs and when it crashed or never ran.
    int lastExitStatus() const { return m_lastExitStatus; }
    QString imageSha256() const { return m_imageSha256; }

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
    void noteError(const QString &line);

    int m_progress = 0;
    QStringList m_errorLines;
    int m_lastExitStatus = -1;
    QString m_imageSha256;
};
