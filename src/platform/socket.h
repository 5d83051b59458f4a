#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// Small blocking helpers over non-blocking TCP sockets, for the Icecast source client. A socket
// is a plain int (-1 for none); every wait is bounded by a timeout in milliseconds. Writes never
// raise SIGPIPE. Any thread may call these; each call blocks at most for the waits it names.
namespace platform {

// Results of the helpers below (negative; a non-negative result is a socket or a byte count).
inline constexpr int kSocketNoSocket = -1;         // no usable socket / other receive error
inline constexpr int kSocketLookupFailed = -2;     // the address lookup failed
inline constexpr int kSocketTimedOut = -3;         // nothing within the timeout
inline constexpr int kSocketConnectError = -4;     // the final check after connecting failed
inline constexpr int kSocketUnknownWaitMode = -5;  // socketWaitReady with an unknown mode
inline constexpr int kSocketAborted = -6;          // another thread aborted the socket
inline constexpr int kSocketRefused = -7;          // the host answered: nothing listens there
inline constexpr int kSocketUnreachable = -8;      // no route to the host or its network
inline constexpr int kSocketPeerClosed = -10;      // the peer closed or reset the connection

// The last socket error of the calling thread, in portable terms, so that callers never match
// the operating system's texts.
enum class SocketError {
    None,
    Refused,      // nothing listens at the address
    Unreachable,  // no route to the host or its network
    TimedOut,
    PeerClosed,  // the peer closed, reset or aborted the connection
    Other,
};

inline constexpr int kWaitRead = 0;
inline constexpr int kWaitWrite = 1;
inline constexpr int kWaitEither = 2;

void closeSocket(int socket);

// Fixes the kernel's send buffer of a connected socket at about `bytes` (the kernel stops growing
// it on its own), so that a slow link makes writes wait after seconds of queued data rather than
// after megabytes.
void limitSendBuffer(int socket, int bytes);

// Ends both directions of a socket without closing it: every wait on it wakes at once, also a
// pending connect.
void shutdownSocket(int socket);

// Holds the socket that one thread is working on, so that another thread can abort it: abort()
// wakes every wait on it at once without closing it, so the socket number cannot be reused under
// the working thread's feet. Only the holder closes it. All members may be called from any
// thread and never block beyond a short mutex.
class AbortableSocket {
public:
    AbortableSocket() = default;
    ~AbortableSocket() { close(); }
    AbortableSocket(const AbortableSocket&) = delete;
    AbortableSocket& operator=(const AbortableSocket&) = delete;

    // Takes a new socket into the holder (closing one held before). Returns false, and closes
    // the socket, when the holder was already aborted.
    bool adopt(int socket) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_aborted) {
            closeSocket(socket);
            return false;
        }
        if (m_socket >= 0 && m_socket != socket) closeSocket(m_socket);
        m_socket = socket;
        return true;
    }
    // Marks the holder aborted and wakes any wait on the held socket.
    void abort() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_aborted = true;
        if (m_socket >= 0) shutdownSocket(m_socket);
    }
    bool isAborted() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_aborted;
    }
    // Closes the held socket, if any.
    void close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        closeSocket(m_socket);
        m_socket = -1;
    }
    // Hands the held socket over to the caller (-1 when none or aborted); the holder forgets it.
    int release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_aborted) return -1;
        const int socket = m_socket;
        m_socket = -1;
        return socket;
    }
    int socket() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_socket;
    }

private:
    mutable std::mutex m_mutex;
    int m_socket = -1;
    bool m_aborted = false;
};

// Once per user of the helpers, before the first call (a no-op where nothing needs starting).
void initializeSockets();

// Looks `host` up (any family; stream sockets, datagram when asked) and tries every address in
// order: non-blocking connect, waiting up to timeoutMs for each. Returns the connected socket
// (left non-blocking) or kSocketNoSocket, kSocketLookupFailed, kSocketConnectError, or
// kSocketAborted when `holder` was aborted; when no address accepted: kSocketTimedOut if any of
// them timed out, else kSocketUnreachable if any had no route, else kSocketRefused. With a holder, each socket
// being connected is held by it, and the connected socket stays held on success.
int tcpConnect(const char* host, std::uint16_t port, bool datagram = false, int timeoutMs = 5000,
               AbortableSocket* holder = nullptr);

// Writes all `length` bytes, waiting up to timeoutMs each time the socket is not writable.
// Returns `length` on success, 0 for an empty buffer, kSocketTimedOut when a wait timed out or
// failed or the write failed. Never raises SIGPIPE and never allocates.
std::int64_t tcpSendAll(int socket, const char* data, std::size_t length, int timeoutMs);

// Waits up to timeoutMs for readability, then reads once. Returns the byte count,
// kSocketTimedOut, kSocketPeerClosed (orderly close or reset) or kSocketNoSocket (other error).
int tcpReceive(int socket, char* buffer, std::size_t maxLength, int timeoutMs);

// Waits for kWaitRead, kWaitWrite or kWaitEither (errors always wake it). Returns >0 when ready,
// 0 on timeout, <0 on failure, kSocketUnknownWaitMode for another mode.
int socketWaitReady(int socket, int timeoutMs, int mode);

// The operating system's text for the last socket error, or empty when there was none.
std::string lastSocketErrorText();
SocketError lastSocketError();

}  // namespace platform
