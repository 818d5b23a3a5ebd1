#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// Reads commands from standard input, one per line, without blocking the
// event loop. Lets a test drive the device while it runs (for example,
// release a held answer at the exact moment it wants).
class ControlInput : public QObject
{
    Q_OBJECT

public:
    explicit ControlInput(QObject *parent = nullptr);

signals:
    // `command` is the first word of the line, `argument` the rest, trimmed.
    void commandReceived(const QString &command, const QString &argument);
    // Standard input has been closed, e.g. because the starting process died.
    void endOfInput();

private slots:
    void readAvailable();

private:
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_buffer;
};
