// Publishing the deck callback to the capture threads, and waiting for them to leave it.
#include "audio/deck_callback_slot.h"

#include <chrono>
#include <thread>

#include "audio/mix_format.h"
#include "core/log_categories.h"

struct DeckCallbackSlot::Box {
    DeckAudioCallback callback;
};

DeckCallbackSlot::~DeckCallbackSlot() { publish(nullptr); }

void DeckCallbackSlot::set(DeckAudioCallback callback) {
    publish(callback ? new Box{std::move(callback)} : nullptr);
}

void DeckCallbackSlot::clear() { publish(nullptr); }

void DeckCallbackSlot::publish(Box* box) {
    std::lock_guard<std::mutex> lock(m_writeMutex);
    Box* old = m_box.exchange(box);
    if (!old) return;
    const unsigned oldParity = m_epoch.fetch_add(1) & 1u;
    int spins = 0;
    while (m_readers[oldParity].load() != 0) {
        if (++spins < 64) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    delete old;
}

bool DeckCallbackSlot::forward(int deck, const float* data, int frames) {
    // Register under the current epoch before looking at the callback; re-check the epoch so a
    // setter that flipped meanwhile is not kept waiting by this entry.
    unsigned parity = 0;
    for (;;) {
        parity = m_epoch.load() & 1u;
        m_readers[parity].fetch_add(1);
        if ((m_epoch.load() & 1u) == parity) break;
        m_readers[parity].fetch_sub(1);
    }
    const Box* box = m_box.load();
    if (box) {
        if (!m_forwardNoticeLogged.exchange(true)) {
            qCDebug(lcObsAudio) << "Calling deck audio callback for deck" << deck << "(" << frames
                                << "frames," << mixformat::kChannels << "channels)";
        }
        box->callback(deck, data, frames, mixformat::kChannels, mixformat::kSampleRateHz);
    }
    m_readers[parity].fetch_sub(1);

    if (!box && !m_missingNoticeLogged.exchange(true)) {
        qCInfo(lcObsAudio) << "Deck audio callback not set, audio data will not be forwarded";
    }
    return box != nullptr;
}
