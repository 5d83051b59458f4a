// The sound-server watch on libpulse: a thread of its own connects a context, waits on it while
// it stays connected, and tries again every retry interval while the server is gone.
#include "platform/sound_server_watch.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {

namespace {

constexpr auto kConnectTimeout = std::chrono::milliseconds(500);
constexpr int kConnectPollUs = 250000;

}  // namespace

struct SoundServerWatch::Impl {
    std::function<void(bool)> onChange;
    std::chrono::milliseconds retry{1000};
    std::atomic<bool> available{false};
    bool reported = false;

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    pa_mainloop* mainloop = nullptr;  // the one being waited on, for wakeup; guarded by mutex
    std::thread thread;

    void report(bool now) {
        if (reported && available.load() == now) return;
        reported = true;
        available.store(now);
        if (onChange) onChange(now);
    }

    bool isStopping() {
        std::lock_guard<std::mutex> lock(mutex);
        return stopping;
    }

    // One connection, from connecting to its end: true while it was ready at some point.
    void watchOnce() {
        pa_mainloop* loop = pa_mainloop_new();
        if (!loop) return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping) {
                pa_mainloop_free(loop);
                return;
            }
            mainloop = loop;
        }
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Ondaro Doredoradar");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "cloud.ondaro.doredoradar.watch");
        pa_context* context =
            pa_context_new_with_proplist(pa_mainloop_get_api(loop), "Ondaro Doredoradar",
                                         properties);
        pa_proplist_free(properties);
        if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            // Once ready, sleeps until something happens on the connection (or a wakeup to
            // stop). Until then, gives up after a while: a server that is still starting, or
            // already stopping, can take the connection and never answer.
            const auto giveUpAt = std::chrono::steady_clock::now() + kConnectTimeout;
            bool ready = false;
            while (!isStopping()) {
                if (!ready && std::chrono::steady_clock::now() > giveUpAt) break;
                if (pa_mainloop_prepare(loop, ready ? -1 : kConnectPollUs) < 0 ||
                    pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0) {
                    break;
                }
                const pa_context_state_t state = pa_context_get_state(context);
                if (state == PA_CONTEXT_READY && !ready) {
                    ready = true;
                    report(true);
                }
                if (!PA_CONTEXT_IS_GOOD(state)) break;
            }
        }
        if (!isStopping()) report(false);
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            mainloop = nullptr;
        }
        pa_mainloop_free(loop);
    }

    void run() {
        for (;;) {
            watchOnce();
            std::unique_lock<std::mutex> lock(mutex);
            if (wake.wait_for(lock, retry, [this] { return stopping; })) return;
        }
    }
};

SoundServerWatch::SoundServerWatch(std::function<void(bool)> onChange, int retryMs)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->onChange = std::move(onChange);
    if (retryMs > 0) m_impl->retry = std::chrono::milliseconds(retryMs);
    m_impl->thread = std::thread([impl = m_impl.get()] { impl->run(); });
}

SoundServerWatch::~SoundServerWatch() {
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        m_impl->stopping = true;
        if (m_impl->mainloop) pa_mainloop_wakeup(m_impl->mainloop);
    }
    m_impl->wake.notify_all();
    m_impl->thread.join();
}

bool SoundServerWatch::isAvailable() const { return m_impl->available.load(); }

}  // namespace platform
