// The firmware check the screen runs on a chosen file: eFlash::testFile reads
// the file's trailer and stages the image for the flasher when it fits.
// Input: the length of the kind letter text (low two bits), that text, then
// the file's bytes.
#include "flash/eflash.h"
#include "fuzzcheck.h"
#include "qtfuzzapp.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {
const QString stagingFile = QStringLiteral("flashfile.tmp");
const QString firmwareFile = QStringLiteral("firmware.bin");

// The staging file lands in the working directory, so each run works in a
// scratch one; libFuzzer's own relative paths need the old one back after.
class ScratchDirectory
{
public:
    ScratchDirectory()
        : m_previous(QDir::currentPath())
    {
        static QTemporaryDir scratch;
        if (!scratch.isValid() || !QDir::setCurrent(scratch.path()))
            std::abort();
    }
    ~ScratchDirectory() { QDir::setCurrent(m_previous); }

private:
    QString m_previous;
};
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startQtApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const ScratchDirectory scratch;
    const std::size_t typeLength = std::min<std::size_t>(data[0] & 3, size - 1);
    const QByteArray type(reinterpret_cast<const char *>(data + 1), int(typeLength));
    const QByteArray content(reinterpret_cast<const char *>(data + 1 + typeLength), int(size - 1 - typeLength));
    {
        QFile firmware(firmwareFile);
        if (!firmware.open(QIODevice::WriteOnly | QIODevice::Truncate) || firmware.write(content) != content.size())
            std::abort();
    }

    eFlash flasher;
    bool invalid = false;
    QObject::connect(&flasher, &eFlash::fileInvalid, [&] { invalid = true; });
    flasher.testFile(firmwareFile, QString::fromUtf8(type));

    QFile staged(stagingFile);
    if (invalid) {
        FUZZ_CHECK(!staged.exists());
    } else {
        // Accepted: the staging file is the image without its four-byte trailer.
        FUZZ_CHECK(staged.open(QIODevice::ReadOnly));
        FUZZ_CHECK(staged.readAll() == content.left(std::max(0, content.size() - 4)));
    }
    // A plain four-byte trailer of "ODL" and the kind letter is always taken.
    const QByteArray trailer = "ODL" + type;
    if (trailer.size() == 4 && type.at(0) > ' ' && type.at(0) < 0x7f && content.endsWith(trailer))
        FUZZ_CHECK(!invalid);
    // Nothing is left behind but the staging file.
    const QStringList left = QDir::current().entryList(QDir::Files | QDir::Hidden | QDir::System);
    FUZZ_CHECK(left.size() == (invalid ? 1 : 2));
    flasher.deleteTemp();
    return 0;
}
