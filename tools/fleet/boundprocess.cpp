#include "boundprocess.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

BoundProcess::BoundProcess(QObject *parent)
    : QProcess(parent)
    , m_parent(getpid())
{
}

void BoundProcess::setupChildProcess()
{
    // Runs in the child between fork and exec.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have died before the line above.
    if (getppid() != m_parent)
        raise(SIGTERM);
}
