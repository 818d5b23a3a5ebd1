#include "neighbourprobe.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {
// Set in /proc/net/arp for a resolved entry (ATF_COM).
constexpr unsigned completeFlag = 0x2;
constexpr std::chrono::milliseconds promptInterval{1000};
constexpr std::chrono::milliseconds pollInterval{20};
// Discard service: an empty datagram there does nothing on the device.
constexpr std::uint16_t promptPort = 9;
}

NeighbourProbe::NeighbourProbe(const LinkRoute &route)
    : m_route(route)
{
}

void NeighbourProbe::prompt(in_addr target) const
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(promptPort);
    destination.sin_addr = target;
    sendto(fd, nullptr, 0, 0, reinterpret_cast<sockaddr *>(&destination), sizeof destination);
    close(fd);
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

std::optional<MacAddress> NeighbourProbe::resolve(in_addr target, std::chrono::milliseconds wait)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + wait;
    auto nextPrompt = Clock::now();
    while (Clock::now() < end) {
        if (Clock::now() >= nextPrompt) {
            prompt(target);
            nextPrompt = Clock::now() + promptInterval;
        }
        if (auto mac = lookUp(target))
            return mac;
        std::this_thread::sleep_for(pollInterval);
    }
    return lookUp(target);
}
