#include "pulse_playing_streams.h"

#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>

namespace platform::pulse {

namespace {

constexpr char kClientName[] = "Ondaro Doredoradar";

struct MainloopFree {
    void operator()(pa_mainloop* m) const { pa_mainloop_free(m); }
};
struct ContextRelease {
    void operator()(pa_context* c) const {
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};
struct OperationRelease {
    void operator()(pa_operation* o) const { pa_operation_unref(o); }
};

std::string property(const pa_proplist* list, const char* key) {
    const char* value = list ? pa_proplist_gets(list, key) : nullptr;
    return value ? std::string(value) : std::string();
}

struct ListState {
    std::vector<PlayingStream>* streams = nullptr;
    bool done = false;
    bool failed = false;
};

void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
    auto* state = static_cast<ListState*>(userdata);
    if (eol < 0) {
        state->failed = true;
        state->done = true;
        return;
    }
    if (eol > 0) {
        state->done = true;
        return;
    }
    PlayingStream stream = playingStreamFrom(info->index, info->sink, info->proplist);
    if (!isOwnStream(stream)) state->streams->push_back(std::move(stream));
}

}  // namespace

PlayingStream playingStreamFrom(std::uint32_t index, std::uint32_t sinkIndex,
                                const void* proplist) {
    const auto* list = static_cast<const pa_proplist*>(proplist);
    PlayingStream stream;
    stream.index = index;
    stream.sinkIndex = sinkIndex;
    stream.applicationName = property(list, PA_PROP_APPLICATION_NAME);
    stream.binary = property(list, PA_PROP_APPLICATION_PROCESS_BINARY);
    stream.mediaName = property(list, PA_PROP_MEDIA_NAME);
    const std::string pid = property(list, PA_PROP_APPLICATION_PROCESS_ID);
    if (!pid.empty()) stream.processId = std::strtol(pid.c_str(), nullptr, 10);
    return stream;
}

bool isOwnStream(const PlayingStream& stream) {
    return stream.processId != 0 && stream.processId == static_cast<long>(getpid());
}

bool listPlayingStreams(std::vector<PlayingStream>& streams, int timeoutMs, std::string* error) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return false;
    };

    std::unique_ptr<pa_mainloop, MainloopFree> loop(pa_mainloop_new());
    if (!loop) return fail("no PulseAudio main loop");
    std::unique_ptr<pa_context, ContextRelease> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), kClientName));
    if (!context) return fail("no PulseAudio context");
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return fail(pa_strerror(pa_context_errno(context.get())));
    }

    // One bounded turn of the loop; false once the deadline passed or the loop broke.
    auto iterate = [&]() {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        if (pa_mainloop_prepare(loop.get(), static_cast<int>(left.count())) < 0) return false;
        if (pa_mainloop_poll(loop.get()) < 0) return false;
        return pa_mainloop_dispatch(loop.get()) >= 0;
    };

    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context.get());
        if (state == PA_CONTEXT_READY) break;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            return fail(pa_strerror(pa_context_errno(context.get())));
        }
        if (!iterate()) return fail("PulseAudio did not answer in time");
    }

    std::vector<PlayingStream> found;
    ListState listState;
    listState.streams = &found;
    std::unique_ptr<pa_operation, OperationRelease> operation(
        pa_context_get_sink_input_info_list(context.get(), &onSinkInput, &listState));
    if (!operation) return fail(pa_strerror(pa_context_errno(context.get())));
    while (!listState.done) {
        if (!iterate()) {
            pa_operation_cancel(operation.get());
            return fail("PulseAudio did not list its streams in time");
        }
    }
    if (listState.failed) return fail(pa_strerror(pa_context_errno(context.get())));
    streams = std::move(found);
    return true;
}

std::string programItemValue(const PlayingStream& stream) {
    // The executable is the last field; a colon in it would move the field boundary.
    std::string binary = stream.binary;
    for (char& c : binary) {
        if (c == ':') c = '_';
    }
    return std::to_string(stream.index) + ":" + stream.applicationName + ":" + binary;
}

std::string programItemLabel(const PlayingStream& stream) {
    std::string name = stream.applicationName;
    if (name.empty()) name = stream.binary;
    if (name.empty()) name = "Stream " + std::to_string(stream.index);
    if (!stream.mediaName.empty() && stream.mediaName != name) {
        name += " - " + stream.mediaName;
    }
    return name;
}

std::optional<ProgramRef> parseProgramItemValue(const std::string& value) {
    const auto first = value.find(':');
    const auto last = value.rfind(':');
    if (first == std::string::npos || first == last || first == 0) return std::nullopt;
    const std::string indexText = value.substr(0, first);
    if (indexText.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    ProgramRef ref;
    try {
        const unsigned long index = std::stoul(indexText);
        if (index > 0xffffffffUL) return std::nullopt;
        ref.index = static_cast<std::uint32_t>(index);
    } catch (...) {
        return std::nullopt;
    }
    ref.applicationName = value.substr(first + 1, last - first - 1);
    ref.binary = value.substr(last + 1);
    return ref;
}

std::optional<PlayingStream> chooseStreamFor(const ProgramRef& ref,
                                             const std::vector<PlayingStream>& streams) {
    for (const PlayingStream& stream : streams) {
        if (stream.index != ref.index) continue;
        const bool sameProgram = ref.binary.empty() ? stream.applicationName == ref.applicationName
                                                    : stream.binary == ref.binary;
        if (sameProgram) return stream;
    }
    // A player that moves on to its next track opens a new stream: follow the newest one of the
    // same program, the same application name first.
    const PlayingStream* bestSameName = nullptr;
    const PlayingStream* bestSameBinary = nullptr;
    for (const PlayingStream& stream : streams) {
        const bool sameName = stream.applicationName == ref.applicationName;
        if (ref.binary.empty()) {
            if (sameName && !ref.applicationName.empty() &&
                (!bestSameName || stream.index > bestSameName->index)) {
                bestSameName = &stream;
            }
            continue;
        }
        if (stream.binary != ref.binary) continue;
        if (sameName && (!bestSameName || stream.index > bestSameName->index)) {
            bestSameName = &stream;
        }
        if (!bestSameBinary || stream.index > bestSameBinary->index) bestSameBinary = &stream;
    }
    if (bestSameName) return *bestSameName;
    if (bestSameBinary) return *bestSameBinary;
    return std::nullopt;
}

}  // namespace platform::pulse
