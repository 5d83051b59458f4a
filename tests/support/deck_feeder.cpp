#include "deck_feeder.h"

#include <pthread.h>

#include <chrono>

#include "audio/gstreamer_mixer.h"
#include "platform/audio_threads.h"
#include "tone.h"

DeckFeeder::DeckFeeder(Feed feed, double frequencyHz, double amplitude, int framesPerBuffer,
                       int channels, int sampleRate)
    : m_feed(std::move(feed)),
      m_frequencyHz(frequencyHz),
      m_amplitude(amplitude),
      m_framesPerBuffer(framesPerBuffer),
      m_channels(channels),
      m_sampleRate(sampleRate) {}

DeckFeeder::DeckFeeder(GStreamerMixer& mixer, int deck, double frequencyHz, double amplitude,
                       int framesPerBuffer, int channels, int sampleRate)
    : DeckFeeder(
          [&mixer, deck](const float* data, int frames, int channels, int rate) {
              if (deck == 1) {
                  mixer.feedDeck1Audio(data, frames, channels, rate);
              } else {
                  mixer.feedDeck2Audio(data, frames, channels, rate);
              }
          },
          frequencyHz, amplitude, framesPerBuffer, channels, sampleRate) {}

DeckFeeder::~DeckFeeder() { stop(); }

void DeckFeeder::start(bool recordCallTimes) {
    stop();
    m_stop.store(false);
    m_callTimesNs.clear();
    m_thread = std::thread([this, recordCallTimes] { run(recordCallTimes); });
}

void DeckFeeder::stop() {
    m_stop.store(true);
    if (m_thread.joinable()) m_thread.join();
}

void DeckFeeder::run(bool recordCallTimes) {
    pthread_setname_np(pthread_self(), "deck-feeder");  // told apart in per-thread accounts
    // Whatever its creator left in the vector registers, the tone is made at its true cost.
    platform::clearUpperVectorState();
    using Clock = std::chrono::steady_clock;
    SineGenerator sine(m_frequencyHz, m_amplitude, m_sampleRate, m_channels);
    const auto period =
        std::chrono::nanoseconds(qint64(m_framesPerBuffer) * 1000000000 / m_sampleRate);
    const qint64 stallEveryFrames = qint64(m_stallEveryMs) * m_sampleRate / 1000;
    qint64 frames = 0;
    auto due = Clock::now();
    while (!m_stop.load()) {
        if (stallEveryFrames > 0 && frames > 0 &&
            frames / stallEveryFrames != (frames - m_framesPerBuffer) / stallEveryFrames) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_stallLengthMs));
        }
        frames += m_framesPerBuffer;
        const std::vector<float> samples = sine.next(m_framesPerBuffer);
        const auto before = Clock::now();
        m_feed(samples.data(), m_framesPerBuffer, m_channels, m_sampleRate);
        if (recordCallTimes) {
            m_callTimesNs.append(
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - before)
                    .count());
        }
        ++m_buffers;
        due += period;
        std::this_thread::sleep_until(due);
    }
}
