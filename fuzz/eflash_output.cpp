// What eFlash and the shared line reader make of the flasher's standard
// output, in any pieces. Input: piece size - 1, then the output.
#include "flash/eflash.h"
#include "flash/flasheroutputline.h"
#include "fuzzcheck.h"
#include "qtfuzzapp.h"
#include "tooloutput.h"

#include <QList>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startQtApplication();
    return 0;
}

namespace {

// Every line alone, with and without a device's address in front.
void checkLineReader(const QByteArray &rawLine)
{
    const FlasherOutputLine line = FlasherOutputLine::read(rawLine);
    if (line.hasProgress)
        FUZZ_CHECK(rawLine.contains("Complete:"));
    if (line.isError)
        FUZZ_CHECK(rawLine.contains("ERROR"));
    if (line.isUnconfirmed)
        FUZZ_CHECK(line.isError && line.text.startsWith(QLatin1String("ERROR: unconfirmed:")));
    FUZZ_CHECK(line.address.isEmpty());

    const FlasherOutputLine device = FlasherOutputLine::readForDevice(rawLine);
    if (device.address.isEmpty()) {
        FUZZ_CHECK(!device.hasProgress && !device.isError && device.text.isEmpty());
        return;
    }
    FUZZ_CHECK(rawLine.startsWith(device.address.toLatin1()));
    FUZZ_CHECK(device.address.count(QLatin1Char('.')) == 3);
    // With its prefix taken off, the line reads as a one-device line.
    int prefix = device.address.size();
    if (rawLine.size() > prefix && rawLine.at(prefix) == ':')
        ++prefix;
    const FlasherOutputLine rest = FlasherOutputLine::read(rawLine.mid(prefix + 1));
    FUZZ_CHECK(rest.hasProgress == device.hasProgress && rest.percent == device.percent);
    FUZZ_CHECK(rest.isError == device.isError && rest.isUnconfirmed == device.isUnconfirmed);
    FUZZ_CHECK(rest.text == device.text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FedTool<eFlash> flasher;
    int errors = 0;
    QObject::connect(&flasher, &eFlash::error, [&] { ++errors; });
    flasher.deliverInPieces(data, size);

    const QByteArray output = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)).mid(1);
    // Only a whole line can report an error, and only one that says so.
    FUZZ_CHECK(errors <= output.count('\n'));
    if (errors > 0)
        FUZZ_CHECK(output.contains("ERROR"));
    if (flasher.progress() != 0)
        FUZZ_CHECK(output.contains("Complete:"));

    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray &line : lines)
        checkLineReader(line + '\n');
    return 0;
}
