// What Arp makes of the MAC lookup tool's standard output, in any pieces.
// Input: piece size - 1, then the output.
#include "device/arp.h"
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
    FedTool<Arp> arp;
    int answers = 0, noResponses = 0;
    QObject::connect(&arp, &Arp::received, [&](const QString &) { ++answers; });
    QObject::connect(&arp, &Arp::noResponse, [&] { ++noResponses; });
    arp.deliverInPieces(data, size);

    // One lookup gives one answer at most, and only a whole line can give it.
    FUZZ_CHECK(answers <= 1);
    const QByteArray output = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)).mid(1);
    FUZZ_CHECK(noResponses <= output.count('\n'));
    FUZZ_CHECK(answers <= output.count('\n'));
    return 0;
}
