// Times the firmware image check on images of 1, 16 and 64 MiB against `cp`
// copying the same file, page cache warm, and prints the medians and ratios.
// The last line is the 64 MiB ratio, for scripts to pick up.

#include "flash/eflash.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int runsPerSize = 7;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool writeImage(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char(i * 131);
    for (qint64 written = 0; written < size - 4; written += block.size())
        file.write(block.constData(), qMin<qint64>(block.size(), size - 4 - written));
    file.write("ODLA");
    return file.error() == QFileDevice::NoError;
}

double timeCheck(eFlash &flash, const QString &image)
{
    QElapsedTimer timer;
    timer.start();
    flash.testFile(image, QStringLiteral("A"));
    return timer.nsecsElapsed() / 1e6;
}

double timeCopy(const QString &image, const QString &target)
{
    QElapsedTimer timer;
    timer.start();
    QProcess::execute(QStringLiteral("cp"), {image, target});
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "cannot create a scratch directory\n");
        return 1;
    }
    eFlash flash;
    bool refused = false;
    QObject::connect(&flash, &eFlash::fileInvalid, [&refused] { refused = true; });

    double lastRatio = 0;
    for (const int mebibytes : {1, 16, 64}) {
        const QString image = dir.filePath(QStringLiteral("image-%1.bin").arg(mebibytes));
        if (!writeImage(image, qint64(mebibytes) << 20)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(image));
            return 1;
        }
        // One untimed round of each warms the page cache.
        timeCheck(flash, image);
        timeCopy(image, dir.filePath(QStringLiteral("copy.bin")));
        std::vector<double> checks, copies, ratios;
        for (int run = 0; run < runsPerSize; ++run) {
            checks.push_back(timeCheck(flash, image));
            copies.push_back(timeCopy(image, dir.filePath(QStringLiteral("copy.bin"))));
            ratios.push_back(checks.back() / copies.back());
        }
        if (refused) {
            std::fprintf(stderr, "the check refused a valid image\n");
            return 1;
        }
        lastRatio = median(ratios);
        std::printf("image_check %2d MiB: testFile %.2f ms, cp %.2f ms, ratio %.2f\n", mebibytes,
                    median(checks), median(copies), lastRatio);
    }
    std::printf("image_check_ratio_vs_cp_64MiB=%.2f\n", lastRatio);
    return 0;
}
