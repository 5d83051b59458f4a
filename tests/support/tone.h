#pragma once

#include <QByteArray>

#include <cstddef>
#include <vector>

// Test tones: a phase-continuous sine generator in the capture format (interleaved float32), and
// Goertzel measurements of one frequency in decoded PCM or in captured float samples.
class SineGenerator {
public:
    SineGenerator(double frequencyHz, double amplitude, int sampleRate = 48000, int channels = 2);

    // The next `frames` frames, the same sample in every channel.
    std::vector<float> next(int frames);

private:
    double m_phaseStep;
    double m_amplitude;
    int m_channels;
    double m_phase = 0.0;
};

namespace tone {

// Amplitude (1.0 = full scale) of a sine at frequencyHz in one channel of interleaved
// signed 16-bit little-endian PCM over [startSeconds, startSeconds + lengthSeconds): the median
// of short Goertzel windows, so an occasional glitch of a live stream does not count. Choose a
// window that holds a whole number of periods. Returns -1 when the PCM is too short.
double amplitudeS16(const QByteArray& pcm, int channels, int channel, int sampleRate,
                    double frequencyHz, double startSeconds, double lengthSeconds,
                    double windowSeconds = 0.02);

// Amplitude (1.0 = full scale) of frequencyHz in `count` samples taken every `stride` floats from
// `samples`, over one Hann window (captured audio, whose start is not period-aligned).
double amplitudeF32(const float* samples, std::size_t count, std::size_t stride, double frequencyHz,
                    int sampleRate);

// 20·log10(a / b), floored at -120 dB.
double ratioDb(double a, double b);

}  // namespace tone
