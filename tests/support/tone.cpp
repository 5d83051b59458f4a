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

double goertzel(const char* bytes, qint64 frameBytes, int channel, qint64 first, qint64 count,
                double coefficient) {
    double s1 = 0.0;
    double s2 = 0.0;
    for (qint64 i = 0; i < count; ++i) {
        qint16 sample;
        std::memcpy(&sample, bytes + (first + i) * frameBytes + channel * 2, 2);
        const double s0 = sample / 32768.0 + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / count;
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
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequencyHz / sampleRate);
    std::vector<double> amplitudes;
    for (qint64 start = first; start + window <= first + count; start += window) {
        amplitudes.push_back(
            goertzel(pcm.constData(), frameBytes, channel, start, window, coefficient));
    }
    std::nth_element(amplitudes.begin(), amplitudes.begin() + amplitudes.size() / 2,
                     amplitudes.end());
    return amplitudes[amplitudes.size() / 2];
}

double ratioDb(double a, double b) {
    if (a <= 0.0 || b <= 0.0) return -120.0;
    return std::max(20.0 * std::log10(a / b), -120.0);
}

}  // namespace tone
