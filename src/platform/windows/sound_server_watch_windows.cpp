// The sound-server watch on Windows: the audio service does not go away under a running program,
// so the watch reports it available once, from a thread of its own as on other systems.
#include "platform/sound_server_watch.h"

#include <atomic>
#include <thread>

namespace platform {

struct SoundServerWatch::Impl {
    std::atomic<bool> available{false};
    std::thread reporter;
};

SoundServerWatch::SoundServerWatch(std::function<void(bool)> onChange, int)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->reporter = std::thread([impl = m_impl.get(), onChange = std::move(onChange)] {
        impl->available.store(true);
        if (onChange) onChange(true);
    });
}

SoundServerWatch::~SoundServerWatch() {
    if (m_impl->reporter.joinable()) m_impl->reporter.join();
}

bool SoundServerWatch::isAvailable() const { return m_impl->available.load(); }

}  // namespace platform
