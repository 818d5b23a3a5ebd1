#include "socketapi.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

SocketHandle openSocket(int type, int protocol)
{
    return socket(AF_INET, type | SOCK_CLOEXEC, protocol);
}

void closeSocket(SocketHandle socket)
{
    if (socket != noSocket)
        close(socket);
}

bool makeNonBlocking(SocketHandle socket)
{
    const int flags = fcntl(socket, F_GETFL);
    return flags >= 0 && fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

SocketFailure lastSocketFailure()
{
    switch (errno) {
    case EADDRINUSE:
        return SocketFailure::AddressInUse;
    case EACCES:
    case EPERM:
        return SocketFailure::NotPermitted;
    case EINTR:
        return SocketFailure::Interrupted;
    default:
        return SocketFailure::Other;
    }
}

std::string lastSocketErrorText()
{
    return std::strerror(errno);
}

int pollSockets(pollfd *entries, std::size_t count, int timeoutMilliseconds)
{
    return poll(entries, count, timeoutMilliseconds);
}
