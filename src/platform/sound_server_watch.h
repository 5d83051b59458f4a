#pragma once

#include <functional>
#include <memory>

// Watches whether the sound server (PulseAudio, or PipeWire's PulseAudio service) can be reached,
// through a small connection of its own that never plays or records anything: it says when the
// server goes away and when it is back. The capture library's own PulseAudio connection reports
// nothing when it dies, so this is how the decks learn of it.
//
// Where the operating system's audio service cannot go away (Windows), the watch reports the
// server available once and never changes.
namespace platform {

class SoundServerWatch {
public:
    // `onChange(available)` runs on the watch's own thread, first once the initial state is
    // known and then at every change; it must not block. While the server is gone the watch
    // tries again every `retryMs` milliseconds. Never starts a server of its own.
    explicit SoundServerWatch(std::function<void(bool available)> onChange, int retryMs = 1000);
    // Blocks until the watch's thread has ended (milliseconds).
    ~SoundServerWatch();
    SoundServerWatch(const SoundServerWatch&) = delete;
    SoundServerWatch& operator=(const SoundServerWatch&) = delete;

    // Any thread, never blocks.
    bool isAvailable() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace platform
