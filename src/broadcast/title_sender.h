// Title updates: the server's metadata request over a short connection of its own, and the
// server's verdict on it.
#pragma once

#include <QString>

#include "broadcast/icecast_wire.h"

// Never touches the source socket, so a failed title update leaves the audio connection alone.
class TitleSender {
public:
    // The server, mount and source credentials the title is published with.
    explicit TitleSender(icecast::SourceRequest target) : m_target(std::move(target)) {}

    // Publishes "artist - title" (or the title alone). True when the request went out and the
    // server did not refuse it. Any thread; blocks for the connect (at most 5 s), the write (at
    // most 3 s per wait) and the server's answer (at most 2 s).
    bool send(const QString& title, const QString& artist) const;

private:
    icecast::SourceRequest m_target;
};
