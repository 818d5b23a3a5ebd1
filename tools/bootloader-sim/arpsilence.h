#pragma once

#include <string>

// A boot loader that has no address yet cannot answer ARP for it, while the
// simulated device keeps its address on the interface all along. While this
// lives, the kernel answers no ARP request on `interfaceName` (arp_ignore 8);
// the setting it had comes back when it ends. Throws SessionEnd when the
// setting cannot be changed (it needs root in the device's namespace).
class ArpSilence
{
public:
    explicit ArpSilence(const std::string &interfaceName);
    ~ArpSilence();
    ArpSilence(const ArpSilence &) = delete;
    ArpSilence &operator=(const ArpSilence &) = delete;

private:
    std::string m_path;
    std::string m_previous;
};
