#include "flash/eflash.h"

#include "flash/flasheroutputline.h"
#include "flash/stagingimage.h"
#include "platform/toolpath.h"
#include "platform/toolrun.h"

#include <QDebug>

namespace {
const QString stagingFile = QStringLiteral("./flashfile.tmp");
}

eFlash::eFlash()
{
    setProgram(toolProgram(QStringLiteral("eflash.exe")));
    connect(this, &QProcess::readyReadStandardOutput, this, &eFlash::readOutput);
    // The end of a run changes the state before either `finished` overload
    // is emitted, so the screen learns of the failure before the end.
    connect(this, &QProcess::stateChanged, this, [this](QProcess::ProcessState state) {
        // Only a clean exit 0 can mean the image arrived: a crashed or killed
        // flasher may have printed no ERROR line at all. (A tool that cannot
        // start leaves exit code 0 and reports through errorOccurred.)
        if (state == QProcess::NotRunning
            && (exitStatus() != QProcess::NormalExit || exitCode() != 0))
            emit error();
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
        if (line.isError)
            emit error();
    }
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
    if (!StagingImage::stage(file, QStringLiteral("ODL") + type, stagingFile))
        emit fileInvalid();
}
