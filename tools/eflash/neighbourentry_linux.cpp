#include "neighbourentry.h"

#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool addNeighbourEntry(in_addr address, const MacAddress &mac, const std::string &interfaceName,
                       std::string *problem)
{
    arpreq request{};
    auto *protocolAddress = reinterpret_cast<sockaddr_in *>(&request.arp_pa);
    protocolAddress->sin_family = AF_INET;
    protocolAddress->sin_addr = address;
    request.arp_ha.sa_family = ARPHRD_ETHER;
    std::memcpy(request.arp_ha.sa_data, mac.data(), mac.size());
    request.arp_flags = ATF_COM;
    std::strncpy(request.arp_dev, interfaceName.c_str(), sizeof request.arp_dev - 1);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool added = fd >= 0 && ioctl(fd, SIOCSARP, &request) == 0;
    if (!added)
        *problem = errno == EPERM || errno == EACCES ? "needs root or the cap_net_admin capability"
                                                      : std::strerror(errno);
    if (fd >= 0)
        close(fd);
    return added;
}
