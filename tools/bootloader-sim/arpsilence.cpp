#include "arpsilence.h"

#include "sessionend.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

bool writeSetting(const std::string &path, const std::string &value)
{
    std::ofstream file(path);
    file << value << '\n';
    file.close();
    return !file.fail();
}

}

ArpSilence::ArpSilence(const std::string &interfaceName)
    : m_path("/proc/sys/net/ipv4/conf/" + interfaceName + "/arp_ignore")
{
    std::ifstream current(m_path);
    if (!(current >> m_previous) || !writeSetting(m_path, "8"))
        throw SessionEnd{BootLoaderSim::Result::Outcome::Failed,
                         "cannot stop answering ARP on " + interfaceName + ": " + std::strerror(errno)};
}

ArpSilence::~ArpSilence()
{
    writeSetting(m_path, m_previous);
}
