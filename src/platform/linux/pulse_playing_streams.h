#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// PulseAudio's playback streams ("sink inputs"): what a program is playing right now, and how
// one is named in the program-audio source's "window" list.
namespace platform::pulse {

struct PlayingStream {
    std::uint32_t index = 0;      // the sink input's index
    std::uint32_t sinkIndex = 0;  // the sink it plays into
    std::string applicationName;  // "Firefox", or whatever the client called itself
    std::string binary;           // the executable's file name, "" when the client did not say
    std::string mediaName;        // the stream's title
    long processId = 0;           // 0 when unknown
};

// The program a "window" list value names: "index:application name:executable". The index
// picks the stream that was on show; the executable lets a capture follow the program to its
// next stream.
struct ProgramRef {
    std::uint32_t index = 0;
    std::string applicationName;
    std::string binary;
};

// Blocking, at most `timeoutMs`: the playback streams of the PulseAudio server this process
// uses, in the server's order, without this process's own. Any thread. False with `error`
// when the server could not be asked.
bool listPlayingStreams(std::vector<PlayingStream>& streams, int timeoutMs, std::string* error);

std::string programItemValue(const PlayingStream& stream);
std::string programItemLabel(const PlayingStream& stream);
std::optional<ProgramRef> parseProgramItemValue(const std::string& value);

// The stream a capture of `ref` should record: the very stream while it exists, else the newest
// stream of the same executable (the same application name preferred), else nothing.
std::optional<PlayingStream> chooseStreamFor(const ProgramRef& ref,
                                             const std::vector<PlayingStream>& streams);

// Reads a sink input's properties into a PlayingStream; `proplist` is a pa_proplist.
PlayingStream playingStreamFrom(std::uint32_t index, std::uint32_t sinkIndex, const void* proplist);

// This process's own streams (our monitor output, say) are never offered or followed.
bool isOwnStream(const PlayingStream& stream);

}  // namespace platform::pulse
