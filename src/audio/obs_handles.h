#pragma once

// Owning handles for libobs references. Only .cpp files include this: it pulls in obs.h.

#include <obs.h>

#include <memory>

namespace obshandle {

struct SourceRelease {
    void operator()(obs_source_t* source) const { obs_source_release(source); }
};
struct DataRelease {
    void operator()(obs_data_t* data) const { obs_data_release(data); }
};
struct WeakSourceRelease {
    void operator()(obs_weak_source_t* weak) const { obs_weak_source_release(weak); }
};
struct PropertiesDestroy {
    void operator()(obs_properties_t* properties) const { obs_properties_destroy(properties); }
};

// Each holds one reference that it gives back when it goes.
using Source = std::unique_ptr<obs_source_t, SourceRelease>;
using Data = std::unique_ptr<obs_data_t, DataRelease>;
using Properties = std::unique_ptr<obs_properties_t, PropertiesDestroy>;
// Tells when a source is gone without keeping it.
using WeakSource = std::unique_ptr<obs_weak_source_t, WeakSourceRelease>;

// Shows and activates a source and receives its audio for as long as it lives. It holds no
// reference: the source's owner keeps the source alive longer than the tap. libobs runs capture
// callbacks under the lock that removal takes, so once the tap is gone no call is still running.
class AudioTap {
public:
    AudioTap(obs_source_t* source, obs_source_audio_capture_t callback, void* param)
        : m_source(source), m_callback(callback), m_param(param) {
        obs_source_inc_showing(m_source);
        obs_source_inc_active(m_source);
        obs_source_add_audio_capture_callback(m_source, m_callback, m_param);
    }
    ~AudioTap() {
        obs_source_remove_audio_capture_callback(m_source, m_callback, m_param);
        obs_source_dec_showing(m_source);
        obs_source_dec_active(m_source);
    }
    AudioTap(const AudioTap&) = delete;
    AudioTap& operator=(const AudioTap&) = delete;

private:
    obs_source_t* m_source;
    obs_source_audio_capture_t m_callback;
    void* m_param;
};

}  // namespace obshandle
