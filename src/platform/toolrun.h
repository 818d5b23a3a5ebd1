#pragma once

#include <QObject>
#include <QProcess>

// Ends a tool run that is still going, so that the next start is not refused:
// QProcess takes no new start until it has reaped the killed process, which
// otherwise happens only later in the event loop. The kill ends the tool at
// once; the wait covers its reaping. The ended run still reports `finished`,
// before this returns, but its unread output is dropped: it answers for
// another request. `readOutput` is the tool class's line handler.
template<class Tool>
void endRunningTool(Tool &tool, void (Tool::*readOutput)())
{
    if (tool.state() == QProcess::NotRunning)
        return;
    QObject::disconnect(&tool, &QProcess::readyReadStandardOutput, &tool, readOutput);
    tool.kill();
    tool.waitForFinished(3000);
    tool.readAllStandardOutput();
    QObject::connect(&tool, &QProcess::readyReadStandardOutput, &tool, readOutput);
}
