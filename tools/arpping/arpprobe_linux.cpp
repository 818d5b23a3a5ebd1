#include "arpprobe.h"

#include "arpsocket.h"

#include <poll.h>

namespace {

constexpr std::chrono::milliseconds resendInterval{1000};

}

ArpProbe::ArpProbe(const LinkRoute &route)
    : m_route(route)
{
}

ArpProbe::~ArpProbe() = default;

bool ArpProbe::open(std::string *error, bool *notPermitted)
{
    m_socket = std::make_unique<ArpSocket>(m_route);
    return m_socket->open(error, notPermitted);
}

std::optional<MacAddress> ArpProbe::resolve(in_addr target, std::chrono::milliseconds wait)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + wait;
    auto nextRequest = Clock::now();
    for (;;) {
        auto now = Clock::now();
        if (now >= end)
            return std::nullopt;
        if (now >= nextRequest) {
            m_socket->sendRequest(target);
            nextRequest = now + resendInterval;
        }
        const auto until = std::min(end, nextRequest);
        const auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        pollfd entry{m_socket->handle(), POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(pause) + 1) <= 0)
            continue;
        while (const std::optional<ArpSocket::Reply> reply = m_socket->takeReply()) {
            if (reply->sender.s_addr == target.s_addr)
                return reply->mac;
        }
    }
}
