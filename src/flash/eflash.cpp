#include "flash/eflash.h"

#include "flash/flasheroutputline.h"
#include "flash/stagingimage.h"
#include "platform/toolpath.h"
#include "platform/toolrun.h"

#include <QDebug>

#include <cstdio>

namespace {
const QString stagingFile = QStringLiteral("./flashfile.tmp");
}

eFlash::eFlash()
{
    setProgram(toolProgram(QStringLiteral("eflash.exe")));
    connect(this, &QProcess::readyReadStandardOutput, this, &eFlash::readOutput);
    // The end of a run changes the state before either `finished` overload
    // is emitted, so the screen learns of the failure before the end.
    connect(this, &QProcess::stateChanged, this, [this, ran = false](QProcess::ProcessState state) mutable {
        // A tool that never ran has no exit status of its own.
        if (state == QProcess::Running)
            ran = true;
        if (state == QProcess::NotRunning) {
            m_lastExitStatus = ran && exitStatus() == QProcess::NormalExit ? exitCode() : -1;
            ran = false;
        }
        // Only a clean exit 0 can mean the image arrived: a crashed or killed
        // flasher may have printed no ERROR line at all. (A tool that cannot
        // start leaves exit code 0 and reports through errorOccurred.)
        if (state == QProcess::NotRunning
            && (exitStatus() != QProcess::NormalExit || exitCode() != 0))
            emit error();
    });
    // Connected before the screen's handlers, which write the history.
    connect(this, &QProcess::errorOccurred, this, [this](QProcess::ProcessError problem) {
        if (problem == QProcess::FailedToStart) {
            noteError(QStringLiteral("ERROR: %1 could not be started: %2").arg(program(), errorString()));
        }
    });
}

eFlash::~eFlash()
{
    // The base's destructor ends a run still going, when this part is gone
    // already: none of its handlers may answer that end.
    disconnect(this, nullptr, this, nullptr);
}

int eFlash::progress() const
{
    return m_progress;
}

void eFlash::setProgress(int value)
{
    if (value == m_progress)
        return;
    m_progress = value;
    emit progressChanged();
}

void eFlash::flash(QString ip, QString mac)
{
    // The arguments of a running process cannot be changed.
    endRunningTool(*this, &eFlash::readOutput);
    m_errorLines.clear();
    m_lastExitStatus = -1;
    setArguments({QStringLiteral("-i"), ip, QStringLiteral("-m"), mac, stagingFile,
                  QStringLiteral("--verbose")});
    start(QIODevice::ReadWrite);
}

void eFlash::readOutput()
{
    while (canReadLine()) {
        const FlasherOutputLine line = FlasherOutputLine::read(readLine());
        if (line.hasProgress)
            setProgress(line.percent);
        if (line.isError) {
            noteError(line.text);
            emit error();
        }
    }
}

// The first error of a run also goes to standard error: the button only says
// that the flash failed, the terminal says why.
void eFlash::noteError(const QString &line)
{
    if (m_errorLines.isEmpty())
        std::fprintf(stderr, "zudiruv: flash failed: %s\n", line.toLocal8Bit().constData());
    m_errorLines.append(line);
}

void eFlash::done()
{
    qDebug("Program finished.");
}

void eFlash::deleteTemp()
{
    StagingImage::remove(stagingFile);
}

void eFlash::testFile(QString file, QString type)
{
    StagingImage::remove(stagingFile);
    if (!StagingImage::stage(file, QStringLiteral("ODL") + type, stagingFile, &m_imageSha256))
        emit fileInvalid();
}
