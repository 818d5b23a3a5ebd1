#include "neighbourprobe.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
// Set in /proc/net/arp for a resolved entry (ATF_COM).
constexpr unsigned completeFlag = 0x2;
// Discard service: an empty datagram there does nothing on the device.
constexpr std::uint16_t promptPort = 9;
}

void NeighbourProbe::prompt(in_addr target) const
{
    const SocketHandle socket = openSocket(SOCK_DGRAM, 0);
    if (socket == noSocket)
        return;
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(promptPort);
    destination.sin_addr = target;
    sendto(socket, nullptr, 0, 0, reinterpret_cast<sockaddr *>(&destination), sizeof destination);
    closeSocket(socket);
}

std::optional<MacAddress> NeighbourProbe::lookUp(in_addr target) const
{
    std::ifstream table("/proc/net/arp");
    const std::string wanted = addressText(target);
    std::string line;
    std::getline(table, line); // column titles
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string address, hardwareType, flags, hardwareAddress, mask, device;
        if (!(fields >> address >> hardwareType >> flags >> hardwareAddress >> mask >> device))
            continue;
        if (address != wanted || device != m_route.interfaceName)
            continue;
        if (!(std::strtoul(flags.c_str(), nullptr, 16) & completeFlag))
            continue;
        if (auto mac = parseMacAddress(hardwareAddress))
            return mac;
    }
    return std::nullopt;
}
