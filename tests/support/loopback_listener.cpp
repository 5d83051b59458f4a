#include "loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QThread>

namespace {

sockaddr_in loopback(quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

}  // namespace

LoopbackListener::LoopbackListener(int backlog) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(m_fd, backlog);
    socklen_t length = sizeof(address);
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() {
    for (const int fd : m_fillers) ::close(fd);
    ::close(m_fd);
}

int LoopbackListener::accept() const { return ::accept(m_fd, nullptr, nullptr); }

void LoopbackListener::fillAcceptQueue() {
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopback(m_port);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        m_fillers.push_back(fd);
    }
    QThread::msleep(100);
}
