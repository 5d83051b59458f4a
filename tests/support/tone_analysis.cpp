#include "tone_analysis.h"

#include <algorithm>
#include <cmath>

namespace toneanalysis {

double amplitudeAt(const float* samples, std::size_t count, std::size_t stride, double frequencyHz,
                   int sampleRate) {
    if (!samples || count < 2) return 0.0;
    const double omega = 2.0 * M_PI * frequencyHz / sampleRate;
    const double coefficient = 2.0 * std::cos(omega);
    double s1 = 0.0, s2 = 0.0, windowSum = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / (count - 1));
        windowSum += window;
        const double s0 = samples[i * stride] * window + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / windowSum;
}

}  // namespace toneanalysis
