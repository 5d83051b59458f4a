#pragma once

#include <QVector>

#include <atomic>
#include <functional>
#include <thread>

class GStreamerMixer;

// Plays the part of a capture thread: calls `feed` with `framesPerBuffer` frames of a sine
// (interleaved float32, by default 2 channels at 48 kHz) at real-time pace from a thread of its
// own, until stopped. Optionally records how long each feed call took.
class DeckFeeder {
public:
    using Feed = std::function<void(const float* data, int frames, int channels, int sampleRate)>;

    DeckFeeder(Feed feed, double frequencyHz, double amplitude, int framesPerBuffer = 480,
               int channels = 2, int sampleRate = 48000);
    // Feeds deck 1 or 2 of `mixer`.
    DeckFeeder(GStreamerMixer& mixer, int deck, double frequencyHz, double amplitude,
               int framesPerBuffer = 480, int channels = 2, int sampleRate = 48000);
    ~DeckFeeder();
    DeckFeeder(const DeckFeeder&) = delete;
    DeckFeeder& operator=(const DeckFeeder&) = delete;

    // Every `everyMs` of audio the thread is held up for `lengthMs` before its next buffer and
    // then hands over what piled up at once, as a capture thread on a busy machine does.
    void setStalls(int everyMs, int lengthMs) {
        m_stallEveryMs = everyMs;
        m_stallLengthMs = lengthMs;
    }
    void start(bool recordCallTimes = false);
    void stop();
    qint64 buffersFed() const { return m_buffers.load(); }
    // Nanoseconds per feed call, when recorded; read after stop().
    const QVector<qint64>& callTimesNs() const { return m_callTimesNs; }

private:
    void run(bool recordCallTimes);

    Feed m_feed;
    double m_frequencyHz;
    double m_amplitude;
    int m_framesPerBuffer;
    int m_channels;
    int m_sampleRate;
    int m_stallEveryMs = 0;
    int m_stallLengthMs = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_buffers{0};
    QVector<qint64> m_callTimesNs;
};
