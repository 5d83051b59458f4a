#pragma once

#include <cstddef>

namespace toneanalysis {

// Amplitude (0..1 for a full-scale sine) of `frequencyHz` in `count` samples taken every
// `stride` floats from `samples`, by the Goertzel algorithm over a Hann window.
double amplitudeAt(const float* samples, std::size_t count, std::size_t stride, double frequencyHz,
                   int sampleRate);

}  // namespace toneanalysis
