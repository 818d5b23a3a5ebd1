#pragma once

#include <QObject>

class QSocketNotifier;

// Turns Ctrl-C (SIGINT, and SIGTERM) into a signal on the event loop, where
// the run can stop starting devices and still write its report.
class InterruptWatch : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatch(QObject *parent = nullptr);
    ~InterruptWatch() override;

signals:
    void interrupted();

private:
    QSocketNotifier *m_notifier = nullptr;
};
