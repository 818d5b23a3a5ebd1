// The flasher's BOOTP server reading whatever arrives on port 67 (or, as
// another server's reply, on port 68).
// Input: boot file name length, the MAC being flashed (6 bytes), the datagram.
#include "bootpmessage.h"
#include "fuzzcheck.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 7)
        return 0;
    const std::string bootFile(data[0], 'f');
    MacAddress mac;
    std::copy(data + 1, data + 7, mac.begin());
    const std::vector<std::uint8_t> datagram(data + 7, data + size);

    const BootpMessage request(datagram);
    const bool ours = request.isBootLoaderRequest(mac);
    request.wantsBroadcastReply();
    // Nothing is both a boot loader's request and another server's reply.
    FUZZ_CHECK(!(ours && request.isReplyTo(mac)));
    if (!ours)
        return 0;

    in_addr client{}, server{};
    inet_pton(AF_INET, "127.0.0.2", &client);
    inet_pton(AF_INET, "127.0.0.1", &server);
    const std::vector<std::uint8_t> reply = request.makeReply(client, server, bootFile);

    FUZZ_CHECK(reply.size() == BootpMessage::size);
    FUZZ_CHECK(reply[0] == 2);
    FUZZ_CHECK(BootpMessage(reply).isReplyTo(mac));
    FUZZ_CHECK(std::equal(mac.begin(), mac.end(), reply.begin() + 28));
    FUZZ_CHECK(std::equal(datagram.begin() + 4, datagram.begin() + 8, reply.begin() + 4)); // xid
    FUZZ_CHECK(std::memcmp(&reply[16], &client, 4) == 0 && std::memcmp(&reply[20], &server, 4) == 0);
    // The file field always ends with a NUL, however long the name.
    const auto fileEnd = std::find(reply.begin() + 108, reply.begin() + 236, 0);
    FUZZ_CHECK(fileEnd != reply.begin() + 236);
    FUZZ_CHECK(std::string(reply.begin() + 108, fileEnd) == bootFile.substr(0, 127));
    return 0;
}
