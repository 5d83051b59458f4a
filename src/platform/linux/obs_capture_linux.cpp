#include "platform/obs_capture.h"

#include <obs-module.h>
#include <obs.h>
#include <util/platform.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "kept_display.h"
#include "pulse_playing_streams.h"
#include "pulse_program_capture.h"

namespace platform {

namespace {

constexpr char kProgramType[] = "doredoradar_program_capture";
constexpr char kWindowSetting[] = "window";
constexpr int kListTimeoutMs = 2000;

// One program-audio source: its recorder outputs straight into libobs from the recorder's own
// PulseAudio thread, which is the thread the capture manager's callback then runs on.
class ProgramSource final : public pulse::ProgramCaptureListener {
public:
    explicit ProgramSource(obs_source_t* source) : m_source(source) {
        m_capture = std::make_unique<pulse::ProgramCapture>(this);
    }
    // The recorder goes first, so no audio arrives for a half-destroyed source.
    ~ProgramSource() override { m_capture.reset(); }

    void update(obs_data_t* settings) {
        m_capture->follow(
            pulse::parseProgramItemValue(obs_data_get_string(settings, kWindowSetting)));
    }

    // PulseAudio hands over chunks of any length; libobs gets steady 40 ms blocks (the size the
    // recorder asks the server for), so its buffers and resampler settle at one size instead of
    // growing with every larger chunk, and each block costs one round through libobs and the
    // mixer's feed.
    void onProgramAudio(const float* interleaved, std::uint32_t frames) override {
        constexpr std::uint32_t kRate = pulse::ProgramCapture::kSampleRateHz;
        const std::uint64_t arrivedNs = os_gettime_ns();
        std::uint32_t done = 0;
        while (done < frames) {
            const std::uint32_t take = std::min(kBlockFrames - m_blockFill, frames - done);
            std::memcpy(m_block.data() + m_blockFill * kChannels, interleaved + done * kChannels,
                        take * kChannels * sizeof(float));
            m_blockFill += take;
            done += take;
            if (m_blockFill < kBlockFrames) break;
            // The block's last frame is `frames - done` frames older than the newest one.
            const std::uint64_t endNs =
                arrivedNs - static_cast<std::uint64_t>(frames - done) * 1000000000ULL / kRate;
            obs_source_audio audio = {};
            audio.data[0] = reinterpret_cast<const uint8_t*>(m_block.data());
            audio.frames = kBlockFrames;
            audio.speakers = SPEAKERS_STEREO;
            audio.format = AUDIO_FORMAT_FLOAT;
            audio.samples_per_sec = kRate;
            audio.timestamp =
                endNs - static_cast<std::uint64_t>(kBlockFrames) * 1000000000ULL / kRate;
            obs_source_output_audio(m_source, &audio);
            m_blockFill = 0;
        }
    }

    void onProgramCaptureNote(bool warning, const std::string& text) override {
        blog(warning ? LOG_WARNING : LOG_INFO, "[program capture '%s'] %s",
             obs_source_get_name(m_source), text.c_str());
    }

private:
    static constexpr std::uint32_t kBlockFrames = 1920;
    static constexpr std::uint32_t kChannels = pulse::ProgramCapture::kChannels;

    obs_source_t* m_source;
    // Only the capture's PulseAudio thread touches the block.
    std::array<float, kBlockFrames * kChannels> m_block{};
    std::uint32_t m_blockFill = 0;
    std::unique_ptr<pulse::ProgramCapture> m_capture;
};

const char* programName(void*) { return "Program Audio Capture (PulseAudio)"; }

void* programCreate(obs_data_t* settings, obs_source_t* source) {
    auto* program = new ProgramSource(source);
    program->update(settings);
    return program;
}

void programDestroy(void* data) { delete static_cast<ProgramSource*>(data); }

void programUpdate(void* data, obs_data_t* settings) {
    static_cast<ProgramSource*>(data)->update(settings);
}

void programDefaults(obs_data_t* settings) {
    obs_data_set_default_string(settings, kWindowSetting, "");
}

obs_properties_t* programProperties(void*) {
    obs_properties_t* properties = obs_properties_create();
    obs_property_t* list = obs_properties_add_list(properties, kWindowSetting, "Program",
                                                   OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
    std::vector<pulse::PlayingStream> streams;
    std::string error;
    if (!pulse::listPlayingStreams(streams, kListTimeoutMs, &error)) {
        blog(LOG_WARNING, "[program capture] cannot list playing programs: %s", error.c_str());
        return properties;
    }
    for (const pulse::PlayingStream& stream : streams) {
        obs_property_list_add_string(list, pulse::programItemLabel(stream).c_str(),
                                     pulse::programItemValue(stream).c_str());
    }
    return properties;
}

}  // namespace

const ObsCaptureTypes& obsCaptureTypes() {
    static const ObsCaptureTypes types{"pulse_input_capture", "pulse_output_capture", kProgramType,
                                       "PulseAudio", false};
    return types;
}

std::vector<std::string> obsCaptureModules() { return {"linux-pulseaudio"}; }

std::string obsModuleFileName(const std::string& module) { return module + ".so"; }

std::string obsSystemPluginDirectory() { return DOREDORADAR_OBS_SYSTEM_PLUGIN_DIR; }

std::string obsSystemDataDirectory() { return DOREDORADAR_OBS_SYSTEM_DATA_DIR; }

std::string obsStartupProblem() {
    // libobs opens the X display for its hotkeys at start-up and fails (or, forced onto
    // Wayland without a display, crashes) when there is none.
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        return "libobs needs an X display, but DISPLAY is not set";
    }
    // A display that answered stays connected for the life of the process: an X server whose
    // only client leaves resets itself (Xvfb and xvfb-run do by default), and libobs's own
    // connection a moment later then fails now and again.
    return x11::keepDisplayConnection(display);
}

void watchObsDisplay(std::function<void()> onLost) { x11::watchKeptDisplay(std::move(onLost)); }

bool obsDisplayLost() { return x11::keptDisplayLost(); }

bool registerObsProgramCaptureType() {
    if (obs_source_get_display_name(kProgramType)) return true;
    obs_source_info info = {};
    info.id = kProgramType;
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_AUDIO | OBS_SOURCE_DO_NOT_DUPLICATE;
    info.get_name = &programName;
    info.create = &programCreate;
    info.destroy = &programDestroy;
    info.update = &programUpdate;
    info.get_defaults = &programDefaults;
    info.get_properties = &programProperties;
    info.icon_type = OBS_ICON_TYPE_PROCESS_AUDIO_OUTPUT;
    obs_register_source(&info);
    return obs_source_get_display_name(kProgramType) != nullptr;
}

}  // namespace platform
