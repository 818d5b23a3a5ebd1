#include "socketapi.h"

#include "windowserror.h"

#include <windows.h>

#include <vector>

namespace {

// Winsock stays started for the life of the process; Windows cleans up at
// exit.
bool startWinsock()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

}

SocketHandle openSocket(int type, int protocol)
{
    if (!startWinsock())
        return noSocket;
    // Not inherited by the programs we might start.
    return WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

void closeSocket(SocketHandle socket)
{
    if (socket != noSocket)
        closesocket(socket);
}

bool makeNonBlocking(SocketHandle socket)
{
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0;
}

SocketFailure lastSocketFailure()
{
    switch (WSAGetLastError()) {
    case WSAEADDRINUSE:
        return SocketFailure::AddressInUse;
    case WSAEACCES:
        return SocketFailure::NotPermitted;
    case WSAEINTR:
        return SocketFailure::Interrupted;
    default:
        return SocketFailure::Other;
    }
}

std::string lastSocketErrorText()
{
    return windowsErrorText(static_cast<unsigned long>(WSAGetLastError()));
}

int pollSockets(pollfd *entries, std::size_t count, int timeoutMilliseconds)
{
    // poll() skips an entry without a socket; older WSAPoll fails on it, so
    // only the others are asked about.
    std::vector<pollfd> asked;
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < count; ++i) {
        entries[i].revents = 0;
        if (entries[i].fd != noSocket) {
            asked.push_back(entries[i]);
            positions.push_back(i);
        }
    }
    if (asked.empty()) {
        Sleep(static_cast<DWORD>(timeoutMilliseconds < 0 ? 0 : timeoutMilliseconds));
        return 0;
    }
    const int result = WSAPoll(asked.data(), static_cast<ULONG>(asked.size()), timeoutMilliseconds);
    for (std::size_t i = 0; i < asked.size(); ++i)
        entries[positions[i]].revents = asked[i].revents;
    return result;
}
