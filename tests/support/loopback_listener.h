// A bare listening socket on 127.0.0.1, for connects that are accepted, refused or left pending.
#pragma once

#include <QtGlobal>

#include <vector>

// Listens with the given backlog and accepts nothing by itself; closed when it goes.
class LoopbackListener {
public:
    explicit LoopbackListener(int backlog = 8);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    quint16 port() const { return m_port; }
    // The next connection in the queue (blocks until there is one), or -1.
    int accept() const;
    // Fills the accept queue with connections of its own: Linux then drops further SYNs, so a
    // connect to the port stays pending until its timeout, as behind a firewall that drops.
    void fillAcceptQueue();

private:
    int m_fd = -1;
    quint16 m_port = 0;
    std::vector<int> m_fillers;
};
