#pragma once

// The slot through which capture threads reach the installed deck callback. Replacing or
// clearing it is synchronous: no capture thread is inside the old callback once that returns.

#include <array>
#include <atomic>
#include <functional>
#include <mutex>

// One deck's audio, handed over on the capture thread: interleaved 32-bit float, left then right,
// `frames` per channel, always 2 channels at 48000 Hz. `data` is valid only during the call, so a
// receiver copies what it keeps and must be thread-safe: the two decks may call it at once.
using DeckAudioCallback =
    std::function<void(int deck, const float* data, int frames, int channels, int sampleRate)>;

class DeckCallbackSlot {
public:
    DeckCallbackSlot() = default;
    ~DeckCallbackSlot();
    DeckCallbackSlot(const DeckCallbackSlot&) = delete;
    DeckCallbackSlot& operator=(const DeckCallbackSlot&) = delete;

    // One thread at a time (the main thread); never from inside the callback. Replaces the
    // callback (an empty one clears it) and returns once no capture thread still runs the old
    // one, so its receiver may go away afterwards. Waits at most about as long as one callback
    // call takes, so a callback must never wait for the thread that replaces it.
    void set(DeckAudioCallback callback);
    void clear();

    // Capture threads, any number at once; never blocks and allocates nothing. Hands one
    // deck's interleaved stereo buffer to the callback; false when none is installed.
    bool forward(int deck, const float* data, int frames);

private:
    struct Box;
    void publish(Box* box);

    std::mutex m_writeMutex;  // serialises setters; the capture path never takes it
    // The installed callback, published as one immutable object: the capture path only loads a
    // pointer, so it never waits for a setter and never copies a std::function.
    std::atomic<Box*> m_box{nullptr};
    // Capture threads using a callback, counted by the epoch's parity they entered in. A setter
    // flips the epoch and waits for the old parity to drain; new entries count in the other one,
    // so the wait ends after one callback call at most, however busy the decks are.
    std::atomic<unsigned> m_epoch{0};
    std::array<std::atomic<int>, 2> m_readers{};
    std::atomic<bool> m_forwardNoticeLogged{false};
    std::atomic<bool> m_missingNoticeLogged{false};
};
