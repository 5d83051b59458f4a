#include "pulse_program_capture.h"

#include <pulse/pulseaudio.h>

namespace platform::pulse {

namespace {

constexpr char kClientName[] = "Ondaro Doredoradar";
constexpr char kStreamName[] = "Program capture";
constexpr std::uint32_t kNoStream = PA_INVALID_INDEX;
// The server hands over what it recorded at most this often. Every hand-over wakes this thread,
// libobs and the mixer's feed; a broadcast does not mind 40 ms, the wake-ups cost real CPU.
constexpr pa_usec_t kFragmentUsec = 40 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kReconnectDelayUsec = 1000 * PA_USEC_PER_MSEC;

void unrefOperation(pa_operation* operation) {
    if (operation) pa_operation_unref(operation);
}

}  // namespace

// libpulse calls plain C functions; these forward to the capture with the loop locked.
struct ProgramCaptureCallbacks {
    static void contextState(pa_context* context, void* userdata) {
        auto* self = static_cast<ProgramCapture*>(userdata);
        if (context != self->m_context) return;
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY:
                if (self->m_reconnectNoted) self->note(false, "reconnected to PulseAudio");
                self->m_reconnectNoted = false;
                pa_context_set_subscribe_callback(context, &subscription, self);
                unrefOperation(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SINK_INPUT,
                                                    nullptr, nullptr));
                self->m_scanInFlight = false;
                self->rescan();
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                if (self->m_shuttingDown) break;
                if (!self->m_reconnectNoted) {
                    self->note(true, std::string("lost PulseAudio: ") +
                                         pa_strerror(pa_context_errno(context)) +
                                         "; trying again every second");
                    self->m_reconnectNoted = true;
                }
                self->dropStream();
                self->scheduleReconnect();
                break;
            default:
                break;
        }
    }

    static void subscription(pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                             void* userdata) {
        auto* self = static_cast<ProgramCapture*>(userdata);
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
            return;
        }
        const auto event = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (event == PA_SUBSCRIPTION_EVENT_REMOVE && index == self->m_recordingIndex) {
            self->note(false, "stream " + std::to_string(index) + " of " +
                                  self->m_recording.binary + " ended");
            self->dropStream();
            self->rescan();
        } else if (event == PA_SUBSCRIPTION_EVENT_NEW && self->m_recordingIndex == kNoStream) {
            self->rescan();
        }
    }

    static void scanItem(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
        auto* self = static_cast<ProgramCapture*>(userdata);
        if (eol == 0) {
            PlayingStream stream = playingStreamFrom(info->index, info->sink, info->proplist);
            if (!isOwnStream(stream)) self->m_scan.push_back(std::move(stream));
            return;
        }
        self->m_scanInFlight = false;
        if (self->m_rescanWanted) {
            self->rescan();
            return;
        }
        if (eol < 0 || !self->m_ref || self->m_recordingIndex != kNoStream) return;
        if (const auto chosen = chooseStreamFor(*self->m_ref, self->m_scan)) {
            self->startRecording(*chosen);
        }
    }

    static void sinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
        auto* self = static_cast<ProgramCapture*>(userdata);
        if (eol == 0) {
            if (info->index == self->m_recording.sinkIndex && !self->m_stream &&
                self->m_recordingIndex != kNoStream) {
                self->m_sinkInfoArrived = true;
                self->createStream(*info);
            }
            return;
        }
        // The sink went away between the two questions: look again from the start.
        if (!self->m_sinkInfoArrived && !self->m_stream && self->m_recordingIndex != kNoStream) {
            self->m_recordingIndex = kNoStream;
            self->rescan();
        }
    }

    static void streamState(pa_stream* stream, void* userdata) {
        auto* self = static_cast<ProgramCapture*>(userdata);
        if (stream != self->m_stream) return;
        switch (pa_stream_get_state(stream)) {
            case PA_STREAM_READY:
                self->m_recordingPublic.store(self->m_recordingIndex, std::memory_order_release);
                self->note(false, "recording stream " + std::to_string(self->m_recordingIndex) +
                                      " (" + programItemLabel(self->m_recording) + ")");
                break;
            case PA_STREAM_FAILED:
            case PA_STREAM_TERMINATED:
                // The server ends a monitor stream when its sink input moves to another sink; the
                // sink input is still there, so looking again finds it on its new sink.
                self->note(false, "recording of stream " + std::to_string(self->m_recordingIndex) +
                                      " ended; looking for the program again");
                self->dropStream();
                self->rescan();
                break;
            default:
                break;
        }
    }

    static void streamRead(pa_stream* stream, std::size_t, void* userdata) {
        auto* self = static_cast<ProgramCapture*>(userdata);
        if (stream != self->m_stream) return;
        constexpr std::size_t kFrameBytes = sizeof(float) * ProgramCapture::kChannels;
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
            // A hole (no data, some bytes) carries nothing to play.
            if (data && bytes >= kFrameBytes) {
                self->m_listener->onProgramAudio(static_cast<const float*>(data),
                                                 static_cast<std::uint32_t>(bytes / kFrameBytes));
            }
            pa_stream_drop(stream);
        }
    }

    static void reconnectTimer(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                               void* userdata) {
        auto* self = static_cast<ProgramCapture*>(userdata);
        api->time_free(event);
        self->m_reconnectEvent = nullptr;
        if (!self->m_shuttingDown) self->connectContext();
    }
};

ProgramCapture::ProgramCapture(ProgramCaptureListener* listener)
    : m_listener(listener), m_recordingIndex(kNoStream) {
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop) {
        note(true, "cannot create a PulseAudio main loop");
        return;
    }
    m_api = pa_threaded_mainloop_get_api(m_loop);
    pa_threaded_mainloop_set_name(m_loop, "program-capture");
    pa_threaded_mainloop_lock(m_loop);
    connectContext();
    pa_threaded_mainloop_unlock(m_loop);
    if (pa_threaded_mainloop_start(m_loop) < 0) {
        note(true, "cannot start the PulseAudio thread");
    }
}

ProgramCapture::~ProgramCapture() {
    if (!m_loop) return;
    pa_threaded_mainloop_lock(m_loop);
    m_shuttingDown = true;
    dropStream();
    if (m_reconnectEvent) {
        m_api->time_free(m_reconnectEvent);
        m_reconnectEvent = nullptr;
    }
    releaseContext();
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

void ProgramCapture::follow(std::optional<ProgramRef> ref) {
    if (!m_loop) return;
    pa_threaded_mainloop_lock(m_loop);
    m_ref = std::move(ref);
    dropStream();
    rescan();
    pa_threaded_mainloop_unlock(m_loop);
}

void ProgramCapture::releaseContext() {
    if (!m_context) return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void ProgramCapture::connectContext() {
    releaseContext();
    m_scanInFlight = false;
    m_rescanWanted = false;
    m_context = pa_context_new(m_api, kClientName);
    if (!m_context) {
        scheduleReconnect();
        return;
    }
    pa_context_set_state_callback(m_context, &ProgramCaptureCallbacks::contextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        if (!m_reconnectNoted) {
            note(true, std::string("cannot reach PulseAudio: ") +
                           pa_strerror(pa_context_errno(m_context)) +
                           "; trying again every second");
            m_reconnectNoted = true;
        }
        scheduleReconnect();
    }
}

void ProgramCapture::scheduleReconnect() {
    if (m_reconnectEvent || m_shuttingDown) return;
    timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, kReconnectDelayUsec);
    m_reconnectEvent =
        m_api->time_new(m_api, &when, &ProgramCaptureCallbacks::reconnectTimer, this);
}

void ProgramCapture::rescan() {
    if (!m_context || pa_context_get_state(m_context) != PA_CONTEXT_READY) return;
    if (!m_ref || m_recordingIndex != kNoStream) return;
    // One listing at a time; a request that comes in meanwhile runs after it.
    if (m_scanInFlight) {
        m_rescanWanted = true;
        return;
    }
    m_rescanWanted = false;
    m_scan.clear();
    pa_operation* operation =
        pa_context_get_sink_input_info_list(m_context, &ProgramCaptureCallbacks::scanItem, this);
    if (!operation) return;
    m_scanInFlight = true;
    pa_operation_unref(operation);
}

void ProgramCapture::startRecording(const PlayingStream& stream) {
    m_recordingIndex = stream.index;
    m_recording = stream;
    m_sinkInfoArrived = false;
    // A monitor stream records from the monitor source of the sink the program plays into.
    pa_operation* operation = pa_context_get_sink_info_by_index(
        m_context, stream.sinkIndex, &ProgramCaptureCallbacks::sinkInfo, this);
    if (!operation) {
        m_recordingIndex = kNoStream;
        return;
    }
    pa_operation_unref(operation);
}

void ProgramCapture::createStream(const pa_sink_info& sink) {
    pa_sample_spec format;
    format.format = PA_SAMPLE_FLOAT32LE;
    format.rate = kSampleRateHz;
    format.channels = kChannels;
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);

    m_stream = pa_stream_new(m_context, kStreamName, &format, &map);
    if (!m_stream) {
        note(true, std::string("cannot create a recording stream: ") +
                       pa_strerror(pa_context_errno(m_context)));
        m_recordingIndex = kNoStream;
        return;
    }
    pa_stream_set_monitor_stream(m_stream, m_recordingIndex);
    pa_stream_set_state_callback(m_stream, &ProgramCaptureCallbacks::streamState, this);
    pa_stream_set_read_callback(m_stream, &ProgramCaptureCallbacks::streamRead, this);

    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &format));
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(m_stream, sink.monitor_source_name, &attr, flags) < 0) {
        note(true, std::string("cannot record stream ") + std::to_string(m_recordingIndex) + ": " +
                       pa_strerror(pa_context_errno(m_context)));
        dropStream();
    }
}

void ProgramCapture::dropStream() {
    if (m_stream) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    m_recordingIndex = kNoStream;
    m_recordingPublic.store(-1, std::memory_order_release);
}

void ProgramCapture::note(bool warning, const std::string& text) {
    if (m_listener) m_listener->onProgramCaptureNote(warning, text);
}

}  // namespace platform::pulse
