#include "tone.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

SineGenerator::SineGenerator(double frequencyHz, double amplitude, int sampleRate, int channels)
    : m_phaseStep(2.0 * M_PI * frequencyHz / sampleRate),
      m_amplitude(amplitude),
      m_channels(channels) {}

std::vector<float> SineGenerator::next(int frames) {
    std::vector<float> samples(static_cast<size_t>(frames) * m_channels);
    for (int frame = 0; frame < frames; ++frame) {
        const float value = static_cast<float>(m_amplitude * std::sin(m_phase));
        for (int channel = 0; channel < m_channels; ++channel) {
            samples[static_cast<size_t>(frame) * m_channels + channel] = value;
        }
        m_phase = std::fmod(m_phase + m_phaseStep, 2.0 * M_PI);
    }
    return samples;
}

namespace tone {

namespace {

// The Goertzel recurrence over `count` samples; returns the amplitude for a gain of `gain`
// (the sum of the window's weights, or the count without a window).
template <typename Sample>
double goertzel(std::size_t count, double frequencyHz, int sampleRate, double gain,
                Sample&& sampleAt) {
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequencyHz / sampleRate);
    double s1 = 0.0;
    double s2 = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double s0 = sampleAt(i) + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / gain;
}

}  // namespace

double amplitudeS16(const QByteArray& pcm, int channels, int channel, int sampleRate,
                    double frequencyHz, double startSeconds, double lengthSeconds,
                    double windowSeconds) {
    const qint64 frameBytes = qint64(channels) * 2;
    const qint64 first = qint64(startSeconds * sampleRate);
    const qint64 count = qint64(lengthSeconds * sampleRate);
    const qint64 window = std::max<qint64>(1, qint64(windowSeconds * sampleRate));
    if (count < window || (first + count) * frameBytes > pcm.size()) return -1.0;
    std::vector<double> amplitudes;
    for (qint64 start = first; start + window <= first + count; start += window) {
        const char* bytes = pcm.constData() + start * frameBytes + channel * 2;
        amplitudes.push_back(goertzel(static_cast<std::size_t>(window), frequencyHz, sampleRate,
                                      double(window), [&](std::size_t i) {
                                          qint16 sample;
                                          std::memcpy(&sample, bytes + i * frameBytes, 2);
                                          return sample / 32768.0;
                                      }));
    }
    std::nth_element(amplitudes.begin(), amplitudes.begin() + amplitudes.size() / 2,
                     amplitudes.end());
    return amplitudes[amplitudes.size() / 2];
}

double amplitudeF32(const float* samples, std::size_t count, std::size_t stride, double frequencyHz,
                    int sampleRate) {
    if (!samples || count < 2) return 0.0;
    const auto hann = [count](std::size_t i) {
        return 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(count - 1));
    };
    double windowSum = 0.0;
    for (std::size_t i = 0; i < count; ++i) windowSum += hann(i);
    return goertzel(count, frequencyHz, sampleRate, windowSum,
                    [&](std::size_t i) { return samples[i * stride] * hann(i); });
}

double ratioDb(double a, double b) {
    if (a <= 0.0 || b <= 0.0) return -120.0;
    return std::max(20.0 * std::log10(a / b), -120.0);
}

}  // namespace tone
