#pragma once

// Levels as the meters and the dB controls see them. Gains stay linear everywhere else.

// Six dBFS values of one deck, each floored at kMeterFloorDb.
struct DeckLevels {
    float peakLeft = -60.0f;  // peak of the last buffer
    float peakRight = -60.0f;
    float smoothedPeakLeft = -60.0f;  // fast attack, slow release
    float smoothedPeakRight = -60.0f;
    float rmsLeft = -60.0f;  // smoothed RMS
    float rmsRight = -60.0f;
};

inline constexpr float kMeterFloorDb = -60.0f;
// The dB controls treat this as "off".
inline constexpr float kSilenceDb = -90.0f;

// 0.0 at kSilenceDb or below, else 10^(dB/20).
float dbToLinear(float db);
// 20·log10(linear) for positive values, else kSilenceDb.
float linearToDb(float linear);
