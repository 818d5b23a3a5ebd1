#pragma once

#include <QProcess>

#include <sys/types.h>

// A child process that ends when this program ends, however it ends: a run
// killed outright (SIGKILL, a closed terminal) must not leave eflash.exe
// holding UDP ports 67 and 69 against the run that resumes it.
class BoundProcess : public QProcess
{
    Q_OBJECT

public:
    explicit BoundProcess(QObject *parent = nullptr);

protected:
    void setupChildProcess() override;

private:
    pid_t m_parent;
};
