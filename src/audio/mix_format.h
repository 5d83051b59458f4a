#pragma once

// The deck and mix audio format, shared by capture, controller and mixer: interleaved 32-bit
// float, little-endian.
namespace mixformat {
inline constexpr int kSampleRateHz = 48000;
inline constexpr int kChannels = 2;
}  // namespace mixformat
