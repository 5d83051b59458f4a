#include "platform/socket.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// poll rather than select: select cannot watch a descriptor at or above FD_SETSIZE, which a
// long-running desktop process with many open files can reach.
namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

bool setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int pendingError(int fd) {
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

// Worse outcomes replace milder ones, so a timeout on one address is reported over a refusal
// on another: the server may well sit behind the address that did not answer.
int connectFailure(int error) {
    switch (error) {
        case ECONNREFUSED:
            return kSocketRefused;
        case EHOSTUNREACH:
        case ENETUNREACH:
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

void closeHeld(int fd, AbortableSocket* holder) {
    if (holder) {
        holder->close();
    } else {
        ::close(fd);
    }
}

}  // namespace

void initializeSockets() {}

int socketWaitReady(int socket, int timeoutMs, int mode) {
    short events = 0;
    switch (mode) {
        case kWaitRead:
            events = POLLIN | POLLPRI;
            break;
        case kWaitWrite:
            events = POLLOUT | POLLPRI;
            break;
        case kWaitEither:
            events = POLLIN | POLLOUT | POLLPRI;
            break;
        default:
            return kSocketUnknownWaitMode;
    }
    pollfd entry{socket, events, 0};
    const auto deadline =
        SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        const int result = ::poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (result >= 0 || errno != EINTR) return result;
    }
}

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
        const int fd =
            ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0) continue;
        anySocket = true;
        if (holder && !holder->adopt(fd)) {
            aborted = true;
            break;
        }
        if (!setNonBlocking(fd)) {
            closeHeld(fd, holder);
            continue;
        }
        if (::connect(fd, address->ai_addr, address->ai_addrlen) == 0) {
            connectedFd = fd;
            break;
        }
        int error = errno;
        if (error == EINPROGRESS) {
            error = socketWaitReady(fd, timeoutMs, kWaitWrite) > 0 ? pendingError(fd) : ETIMEDOUT;
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
        pendingError(connectedFd) != 0) {
        closeHeld(connectedFd, holder);
        return kSocketConnectError;
    }
    return connectedFd;
}

std::int64_t tcpSendAll(int socket, const char* data, std::size_t length, int timeoutMs) {
    if (length == 0) return 0;
    std::size_t sent = 0;
    while (sent < length) {
        // Try first: a writable socket (the usual case) then costs one system call per chunk.
        const ssize_t written = ::send(socket, data + sent, length - sent, MSG_NOSIGNAL);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return kSocketTimedOut;
        if (socketWaitReady(socket, timeoutMs, kWaitWrite) <= 0) return kSocketTimedOut;
    }
    return static_cast<std::int64_t>(length);
}

int tcpReceive(int socket, char* buffer, std::size_t maxLength, int timeoutMs) {
    if (socketWaitReady(socket, timeoutMs, kWaitRead) <= 0) return kSocketTimedOut;
    for (;;) {
        const ssize_t received = ::recv(socket, buffer, maxLength, 0);
        if (received > 0) return static_cast<int>(received);
        if (received == 0) return kSocketPeerClosed;
        if (errno == EINTR) continue;
        if (errno == ECONNRESET || errno == EPIPE || errno == ENOTCONN) return kSocketPeerClosed;
        return kSocketNoSocket;
    }
}

void closeSocket(int socket) {
    if (socket >= 0) ::close(socket);
}

void limitSendBuffer(int socket, int bytes) {
    if (socket >= 0) ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof(bytes));
}

void shutdownSocket(int socket) {
    // Also wakes poll during a pending connect; the number stays ours until closeSocket.
    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
}

std::string lastSocketErrorText() {
    const int error = errno;
    if (error == 0) return {};
    char buffer[256];
    return std::string(::strerror_r(error, buffer, sizeof(buffer)));
}

SocketError lastSocketError() {
    switch (errno) {
        case 0:
            return SocketError::None;
        case ECONNREFUSED:
            return SocketError::Refused;
        case EHOSTUNREACH:
        case ENETUNREACH:
            return SocketError::Unreachable;
        case ETIMEDOUT:
        case EAGAIN:
            return SocketError::TimedOut;
        case ECONNRESET:
        case ECONNABORTED:
        case EPIPE:
        case ENOTCONN:
            return SocketError::PeerClosed;
        default:
            return SocketError::Other;
    }
}

}  // namespace platform
