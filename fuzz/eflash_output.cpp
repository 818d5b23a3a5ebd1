// What eFlash makes of the flasher's standard output, in any pieces.
// Input: piece size - 1, then the output.
#include "flash/eflash.h"
#include "fuzzcheck.h"
#include "qtfuzzapp.h"
#include "tooloutput.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startQtApplication();
    return 0;
}

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
    return 0;
}
