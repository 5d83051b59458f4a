#include "audio/audio_levels.h"

#include <cmath>

float dbToLinear(float db) {
    if (db <= kSilenceDb) return 0.0f;
    return std::pow(10.0f, db / 20.0f);
}

float linearToDb(float linear) {
    if (linear > 0.0f) return 20.0f * std::log10(linear);
    return kSilenceDb;
}
