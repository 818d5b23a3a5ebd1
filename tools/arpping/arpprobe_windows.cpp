#include "arpprobe.h"

#include "arpsocket.h"

#include "windowserror.h"

#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

namespace {

constexpr std::chrono::milliseconds resendInterval{1000};

// One SendARP call. It blocks for as long as Windows likes (seconds), so it
// runs on a thread of its own that the probe stops waiting for at its limit;
// a call still running then ends with the process.
struct ArpCall
{
    in_addr target{};
    in_addr source{};
    ULONG hardware[2] = {};
    ULONG length = sizeof hardware;
    DWORD result = ERROR_IO_PENDING;
};

DWORD WINAPI runArpCall(void *parameter)
{
    const std::unique_ptr<std::shared_ptr<ArpCall>> holder(static_cast<std::shared_ptr<ArpCall> *>(parameter));
    ArpCall &call = **holder;
    call.result = SendARP(call.target.s_addr, call.source.s_addr, call.hardware, &call.length);
    return 0;
}

}

ArpProbe::ArpProbe(const LinkRoute &route)
    : m_route(route)
{
}

ArpProbe::~ArpProbe() = default;

bool ArpProbe::open(std::string *, bool *notPermitted)
{
    // SendARP needs no rights; whether it works shows on the first call.
    *notPermitted = false;
    return true;
}

std::optional<MacAddress> ArpProbe::resolve(in_addr target, std::chrono::milliseconds wait)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + wait;
    while (Clock::now() < end && m_unusable.empty()) {
        const auto attemptStart = Clock::now();
        auto call = std::make_shared<ArpCall>();
        call->target = target;
        call->source = m_route.source;
        auto *holder = new std::shared_ptr<ArpCall>(call);
        HANDLE thread = CreateThread(nullptr, 0, runArpCall, holder, 0, nullptr);
        if (!thread) {
            delete holder;
            m_unusable = "cannot start SendARP: " + windowsErrorText(GetLastError());
            return std::nullopt;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        const DWORD waited = WaitForSingleObject(thread, static_cast<DWORD>(std::max<long long>(left, 0)));
        CloseHandle(thread);
        if (waited != WAIT_OBJECT_0)
            return std::nullopt;
        if (call->result == NO_ERROR && call->length == 6) {
            MacAddress mac;
            std::memcpy(mac.data(), call->hardware, 6);
            // An all-zero address is what an unresolved entry holds.
            if (mac != MacAddress{})
                return mac;
        } else if (call->result == ERROR_NOT_SUPPORTED || call->result == ERROR_INVALID_PARAMETER) {
            m_unusable = "SendARP is not available: " + windowsErrorText(call->result);
            return std::nullopt;
        }
        // No answer this time: ask again, at most once a second.
        std::this_thread::sleep_until(std::min(end, attemptStart + resendInterval));
    }
    return std::nullopt;
}
