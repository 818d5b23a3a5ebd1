#include "neighbourtable.h"

#include <QFile>

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

// The kernel's cache information counts in clock ticks of 1/100 s.
constexpr unsigned ticksBeforeDroppable = 5 * 100;

bool droppable(const ndmsg &entry, const nda_cacheinfo *cache)
{
    if (entry.ndm_state & NUD_FAILED)
        return true;
    // Only an entry nothing else holds (no timer running, as in the
    // reachable state) and not updated for 5 s may go.
    return cache && cache->ndm_refcnt == 0 && cache->ndm_updated >= ticksBeforeDroppable;
}

}

NeighbourTable::NeighbourTable()
{
    // Only the first network namespace shows it; elsewhere the default holds.
    QFile file(QStringLiteral("/proc/sys/net/ipv4/neigh/default/gc_thresh3"));
    if (file.open(QIODevice::ReadOnly))
        m_limit = std::max(16, file.readAll().trimmed().toInt());
}

bool NeighbourTable::refresh()
{
    m_held = 0;
    m_addresses.clear();
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return false;
    struct {
        nlmsghdr header;
        ndmsg message;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.message.ndm_family = AF_INET;
    timeval receiveLimit{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receiveLimit, sizeof receiveLimit);
    bool complete = ::send(fd, &request, sizeof request, 0) == ssize_t(sizeof request);
    alignas(nlmsghdr) char buffer[32768];
    for (bool more = complete; more;) {
        const ssize_t length = ::recv(fd, buffer, sizeof buffer, 0);
        if (length <= 0) {
            complete = false;
            break;
        }
        int remaining = int(length);
        for (auto *header = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(header, remaining);
             header = NLMSG_NEXT(header, remaining)) {
            if (header->nlmsg_type == NLMSG_DONE || header->nlmsg_type == NLMSG_ERROR) {
                complete = header->nlmsg_type == NLMSG_DONE;
                more = false;
                break;
            }
            if (header->nlmsg_type != RTM_NEWNEIGH)
                continue;
            const auto *entry = static_cast<const ndmsg *>(NLMSG_DATA(header));
            const nda_cacheinfo *cache = nullptr;
            quint32 address = 0;
            bool hasAddress = false;
            int attributesLength = int(header->nlmsg_len - NLMSG_LENGTH(sizeof *entry));
            for (auto *item = reinterpret_cast<rtattr *>(reinterpret_cast<char *>(const_cast<ndmsg *>(entry))
                                                         + NLMSG_ALIGN(sizeof *entry));
                 RTA_OK(item, attributesLength); item = RTA_NEXT(item, attributesLength)) {
                if (item->rta_type == NDA_DST && RTA_PAYLOAD(item) == 4) {
                    std::memcpy(&address, RTA_DATA(item), 4);
                    address = ntohl(address);
                    hasAddress = true;
                } else if (item->rta_type == NDA_CACHEINFO && RTA_PAYLOAD(item) >= sizeof(nda_cacheinfo)) {
                    cache = static_cast<const nda_cacheinfo *>(RTA_DATA(item));
                }
            }
            if (hasAddress)
                m_addresses.insert(address);
            // Permanent entries are not counted against the limit.
            if (!(entry->ndm_state & NUD_PERMANENT) && !droppable(*entry, cache))
                ++m_held;
        }
    }
    ::close(fd);
    if (!complete) {
        m_held = 0;
        m_addresses.clear();
    }
    return complete;
}
