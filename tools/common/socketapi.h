#pragma once

// The few places where Winsock and POSIX sockets differ, so that the rest of
// the tools never names either: a socket is a SocketHandle, it is closed with
// closeSocket(), and a failed call is read with lastSocketFailure() and
// lastSocketErrorText(), never through errno (which Winsock leaves alone).

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <cstddef>
#include <string>

#ifdef _WIN32
using SocketHandle = SOCKET;
inline constexpr SocketHandle noSocket = INVALID_SOCKET;
// A Winsock socket is no file descriptor: close() on one would not compile.
int close(SocketHandle) = delete;
#else
using SocketHandle = int;
inline constexpr SocketHandle noSocket = -1;
#endif

enum class SocketFailure { AddressInUse, NotPermitted, Interrupted, Other };

// Opens an IPv4 socket; on Windows the first call also starts Winsock.
// Returns noSocket on failure.
SocketHandle openSocket(int type, int protocol);
void closeSocket(SocketHandle socket);
bool makeNonBlocking(SocketHandle socket);

// What the last failed socket call of this thread ran into.
SocketFailure lastSocketFailure();
std::string lastSocketErrorText();

// poll() on POSIX, WSAPoll() on Windows: -1 on failure, else the number of
// entries with events. Entries holding noSocket are skipped on both.
int pollSockets(pollfd *entries, std::size_t count, int timeoutMilliseconds);
