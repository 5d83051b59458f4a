// The sound-server watch on libpulse: one context on a threaded main loop, connected again every
// retry interval while the server is gone.
#include "platform/sound_server_watch.h"

#include <pulse/pulseaudio.h>

#include <atomic>

namespace platform {

struct SoundServerWatch::Impl {
    std::function<void(bool)> onChange;
    pa_usec_t retryUs = 0;
    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
    pa_time_event* retry = nullptr;
    std::atomic<bool> available{false};
    bool reported = false;

    // All below run on the main loop's thread (or with its lock held).
    void report(bool now) {
        if (reported && available.load() == now) return;
        reported = true;
        available.store(now);
        if (onChange) onChange(now);
    }

    void dropContext() {
        if (!context) return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    void connect() {
        dropContext();
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop);
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Ondaro Doredoradar");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "cloud.ondaro.doredoradar.watch");
        context = pa_context_new_with_proplist(api, "Ondaro Doredoradar", properties);
        pa_proplist_free(properties);
        if (!context) {
            scheduleRetry();
            return;
        }
        pa_context_set_state_callback(context, &Impl::onState, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            dropContext();
            report(false);
            scheduleRetry();
        }
    }

    void scheduleRetry() {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop);
        timeval when{};
        pa_gettimeofday(&when);
        pa_timeval_add(&when, retryUs);
        if (retry) {
            api->time_restart(retry, &when);
        } else {
            retry = api->time_new(api, &when, &Impl::onRetry, this);
        }
    }

    static void onState(pa_context* context, void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY:
                self->report(true);
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                // Dropped from a deferred retry, not here: libpulse is still inside the context.
                self->report(false);
                self->scheduleRetry();
                break;
            default:
                break;
        }
    }

    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                        void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        api->time_restart(event, nullptr);  // disarmed until the next failure
        self->connect();
    }
};

SoundServerWatch::SoundServerWatch(std::function<void(bool)> onChange, int retryMs)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->onChange = std::move(onChange);
    m_impl->retryUs = pa_usec_t(retryMs > 0 ? retryMs : 1000) * PA_USEC_PER_MSEC;
    m_impl->mainloop = pa_threaded_mainloop_new();
    if (!m_impl->mainloop) return;
    pa_threaded_mainloop_set_name(m_impl->mainloop, "SoundServerWatch");
    pa_threaded_mainloop_lock(m_impl->mainloop);
    if (pa_threaded_mainloop_start(m_impl->mainloop) == 0) m_impl->connect();
    pa_threaded_mainloop_unlock(m_impl->mainloop);
}

SoundServerWatch::~SoundServerWatch() {
    if (!m_impl->mainloop) return;
    pa_threaded_mainloop_lock(m_impl->mainloop);
    m_impl->dropContext();
    if (m_impl->retry) {
        pa_threaded_mainloop_get_api(m_impl->mainloop)->time_free(m_impl->retry);
        m_impl->retry = nullptr;
    }
    pa_threaded_mainloop_unlock(m_impl->mainloop);
    pa_threaded_mainloop_stop(m_impl->mainloop);
    pa_threaded_mainloop_free(m_impl->mainloop);
}

bool SoundServerWatch::isAvailable() const { return m_impl->available.load(); }

}  // namespace platform
