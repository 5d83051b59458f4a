#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pulse_playing_streams.h"

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_mainloop_api;
struct pa_time_event;
struct pa_sink_info;
struct timeval;

namespace platform::pulse {

// Told what a ProgramCapture records and what it notices. Both run on the capture's own
// PulseAudio thread.
class ProgramCaptureListener {
public:
    virtual ~ProgramCaptureListener() = default;
    // Interleaved 32-bit float stereo at kSampleRateHz; valid only during the call.
    virtual void onProgramAudio(const float* interleaved, std::uint32_t frames) = 0;
    virtual void onProgramCaptureNote(bool warning, const std::string& text) = 0;
};

// Records one program's playback stream through a PulseAudio monitor stream (only that sink
// input, not the whole sink), on a PulseAudio thread of its own. When the stream ends, it
// follows the program to its next stream; when the server goes away, it reconnects.
class ProgramCapture {
public:
    static constexpr std::uint32_t kSampleRateHz = 48000;
    static constexpr int kChannels = 2;

    explicit ProgramCapture(ProgramCaptureListener* listener);
    // Any thread but the capture's own; no listener call after it returns.
    ~ProgramCapture();
    ProgramCapture(const ProgramCapture&) = delete;
    ProgramCapture& operator=(const ProgramCapture&) = delete;

    // Any thread but the capture's own; does not wait for the server. Records `ref`'s program
    // from now on; nullopt stops recording.
    void follow(std::optional<ProgramRef> ref);

    // Any thread: the sink input being recorded right now, or -1.
    std::int64_t recordingStreamIndex() const {
        return m_recordingPublic.load(std::memory_order_acquire);
    }

private:
    // Everything below runs on the capture thread or under the main loop's lock.
    void connectContext();
    void releaseContext();
    void scheduleReconnect();
    void rescan();
    void startRecording(const PlayingStream& stream);
    void createStream(const pa_sink_info& sink);
    void dropStream();
    void note(bool warning, const std::string& text);

    friend struct ProgramCaptureCallbacks;

    ProgramCaptureListener* m_listener;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_mainloop_api* m_api = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_reconnectEvent = nullptr;
    bool m_shuttingDown = false;
    bool m_reconnectNoted = false;

    std::optional<ProgramRef> m_ref;
    // The sink input being recorded or being set up; kNoStream when none.
    std::uint32_t m_recordingIndex;
    PlayingStream m_recording;
    bool m_sinkInfoArrived = false;

    bool m_scanInFlight = false;
    bool m_rescanWanted = false;
    std::vector<PlayingStream> m_scan;

    std::atomic<std::int64_t> m_recordingPublic{-1};
};

}  // namespace platform::pulse
