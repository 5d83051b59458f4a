#include "platform/socket.h"

// winsock2.h first: windows.h alone would bring in the old WinSock 1 declarations.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <chrono>

// WinSock sockets are handles; the client keeps them in an int as the protocol code always has
// (WinSock hands out small values). Every wait is one select on that single socket; select on
// Windows has no descriptor-number limit.
namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

SOCKET toHandle(int socket) { return static_cast<SOCKET>(static_cast<unsigned int>(socket)); }

bool setNonBlocking(SOCKET handle) {
    u_long nonBlocking = 1;
    return ::ioctlsocket(handle, FIONBIO, &nonBlocking) == 0;
}

int pendingError(SOCKET handle) {
    int error = 0;
    int length = sizeof(error);
    if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        return ::WSAGetLastError();
    }
    return error;
}

void closeHeld(int fd, AbortableSocket* holder) {
    if (holder) {
        holder->close();
    } else {
        ::closesocket(toHandle(fd));
    }
}

}  // namespace

void initializeSockets() {
    // Reference counted by WinSock; started once per client and never cleaned up, as the
    // process ends with its clients.
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
}

int socketWaitReady(int socket, int timeoutMs, int mode) {
    if (mode != kWaitRead && mode != kWaitWrite && mode != kWaitEither) {
        return kSocketUnknownWaitMode;
    }
    const SOCKET handle = toHandle(socket);
    fd_set readSet;
    fd_set writeSet;
    fd_set exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    if (mode == kWaitRead || mode == kWaitEither) FD_SET(handle, &readSet);
    if (mode == kWaitWrite || mode == kWaitEither) FD_SET(handle, &writeSet);
    FD_SET(handle, &exceptSet);
    const int clamped = timeoutMs < 0 ? 0 : timeoutMs;
    timeval timeout{clamped / 1000, (clamped % 1000) * 1000};
    return ::select(0, &readSet, &writeSet, &exceptSet, &timeout);
}

namespace {

// Worse outcomes replace milder ones, as on Linux: a timeout on one address is reported over a
// refusal on another.
int connectFailure(int error) {
    switch (error) {
        case WSAECONNREFUSED:
            return kSocketRefused;
        case WSAEHOSTUNREACH:
        case WSAENETUNREACH:
            return kSocketUnreachable;
        default:
            return kSocketTimedOut;
    }
}

int failureRank(int failure) {
    switch (failure) {
        case kSocketRefused:
            return 1;
        case kSocketUnreachable:
            return 2;
        case kSocketTimedOut:
            return 3;
        default:
            return 0;
    }
}

}  // namespace

int tcpConnect(const char* host, std::uint16_t port, bool datagram, int timeoutMs,
               AbortableSocket* holder) {
    const std::string service = std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = datagram ? SOCK_DGRAM : SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (::getaddrinfo(host, service.c_str(), &hints, &addresses) != 0 || !addresses) {
        if (addresses) ::freeaddrinfo(addresses);
        return kSocketLookupFailed;
    }

    int connectedFd = -1;
    bool anySocket = false;
    bool aborted = false;
    int failure = kSocketNoSocket;
    for (addrinfo* address = addresses; address && connectedFd < 0; address = address->ai_next) {
        const SOCKET handle =
            ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (handle == INVALID_SOCKET) continue;
        anySocket = true;
        const int fd = static_cast<int>(handle);
        if (holder && !holder->adopt(fd)) {
            aborted = true;
            break;
        }
        if (!setNonBlocking(handle)) {
            closeHeld(fd, holder);
            continue;
        }
        if (::connect(handle, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) {
            connectedFd = fd;
            break;
        }
        int error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            error = socketWaitReady(fd, timeoutMs, kWaitWrite) > 0 ? pendingError(handle)
                                                                   : WSAETIMEDOUT;
            if (error == 0 && !(holder && holder->isAborted())) {
                connectedFd = fd;
                break;
            }
        }
        const int thisFailure = connectFailure(error);
        if (failureRank(thisFailure) > failureRank(failure)) failure = thisFailure;
        closeHeld(fd, holder);
        if (holder && holder->isAborted()) {
            aborted = true;
            break;
        }
    }
    ::freeaddrinfo(addresses);

    if (aborted) return kSocketAborted;
    if (connectedFd < 0) return anySocket ? failure : kSocketNoSocket;
    if (socketWaitReady(connectedFd, timeoutMs, kWaitWrite) <= 0 ||
        pendingError(toHandle(connectedFd)) != 0) {
        closeHeld(connectedFd, holder);
        return kSocketConnectError;
    }
    return connectedFd;
}

std::int64_t tcpSendAll(int socket, const char* data, std::size_t length, int timeoutMs) {
    if (length == 0) return 0;
    const SOCKET handle = toHandle(socket);
    std::size_t sent = 0;
    while (sent < length) {
        const std::size_t chunk = length - sent > 0x7fffffff ? 0x7fffffff : length - sent;
        const int written = ::send(handle, data + sent, static_cast<int>(chunk), 0);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        if (written == SOCKET_ERROR && ::WSAGetLastError() != WSAEWOULDBLOCK) {
            return kSocketTimedOut;
        }
        if (socketWaitReady(socket, timeoutMs, kWaitWrite) <= 0) return kSocketTimedOut;
    }
    return static_cast<std::int64_t>(length);
}

int tcpReceive(int socket, char* buffer, std::size_t maxLength, int timeoutMs) {
    if (socketWaitReady(socket, timeoutMs, kWaitRead) <= 0) return kSocketTimedOut;
    const int capped = maxLength > 0x7fffffff ? 0x7fffffff : static_cast<int>(maxLength);
    const int received = ::recv(toHandle(socket), buffer, capped, 0);
    if (received > 0) return received;
    if (received == 0) return kSocketPeerClosed;
    const int error = ::WSAGetLastError();
    if (error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN) {
        return kSocketPeerClosed;
    }
    return kSocketNoSocket;
}

void closeSocket(int socket) {
    if (socket >= 0) ::closesocket(toHandle(socket));
}

void shutdownSocket(int socket) {
    if (socket >= 0) ::shutdown(toHandle(socket), SD_BOTH);
}

void limitSendBuffer(int socket, int bytes) {
    if (socket >= 0) {
        ::setsockopt(toHandle(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                     sizeof(bytes));
    }
}

std::string lastSocketErrorText() {
    const DWORD error = static_cast<DWORD>(::WSAGetLastError());
    if (error == 0) return {};
    char buffer[256] = {};
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof(buffer), nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

SocketError lastSocketError() {
    switch (::WSAGetLastError()) {
        case 0:
            return SocketError::None;
        case WSAECONNREFUSED:
            return SocketError::Refused;
        case WSAEHOSTUNREACH:
        case WSAENETUNREACH:
            return SocketError::Unreachable;
        case WSAETIMEDOUT:
        case WSAEWOULDBLOCK:
            return SocketError::TimedOut;
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAENOTCONN:
        case WSAESHUTDOWN:
            return SocketError::PeerClosed;
        default:
            return SocketError::Other;
    }
}

}  // namespace platform
