#include "audio/obs_hotkey_parking.h"

#include <obs.h>

#include <chrono>

namespace {

// The longest a libobs thread of its own waits for the lock.
constexpr auto kHoldFor = std::chrono::seconds(1);
// Long enough for a thread woken by the release to take the lock before we hold it again.
constexpr auto kLetGoFor = std::chrono::milliseconds(5);

}  // namespace

ObsHotkeyParking::~ObsHotkeyParking() { stop(); }

void ObsHotkeyParking::start() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_thread.joinable()) return;
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
}

void ObsHotkeyParking::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_thread.joinable()) return;
        if (m_forGood) {
            m_thread.detach();
            return;
        }
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
    m_thread = std::thread();
}

void ObsHotkeyParking::holdForGood() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_forGood = true;
    }
    m_changed.notify_all();
}

void ObsHotkeyParking::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (m_pauses > 0 && !m_forGood) {
            m_changed.wait(lock, [this] { return m_stopping || m_pauses == 0; });
            continue;
        }
        lock.unlock();
        // Runs hold() with libobs's hotkey lock taken.
        obs_hotkey_update_atomic(&ObsHotkeyParking::hold, this);
        lock.lock();
        m_changed.wait_for(lock, kLetGoFor, [this] { return m_stopping || m_forGood; });
    }
}

void ObsHotkeyParking::hold(void* self) {
    auto* parking = static_cast<ObsHotkeyParking*>(self);
    std::unique_lock<std::mutex> lock(parking->m_mutex);
    parking->m_holding = true;
    parking->m_changed.wait_for(lock, kHoldFor,
                                [parking] { return parking->m_stopping || parking->m_pauses > 0; });
    if (parking->m_forGood) parking->m_changed.wait(lock, [] { return false; });
    parking->m_holding = false;
    lock.unlock();
    parking->m_changed.notify_all();
}

ObsHotkeyParking::Pause::Pause(ObsHotkeyParking& parking) : m_parking(parking) {
    std::unique_lock<std::mutex> lock(m_parking.m_mutex);
    ++m_parking.m_pauses;
    m_parking.m_changed.notify_all();
    // Held for good, the lock never comes free: the caller's libobs call would wait forever, so
    // it is not waited for here either (callers leave libobs alone once its display is gone).
    m_parking.m_changed.wait(lock, [this] { return !m_parking.m_holding || m_parking.m_forGood; });
}

ObsHotkeyParking::Pause::~Pause() {
    {
        std::lock_guard<std::mutex> lock(m_parking.m_mutex);
        --m_parking.m_pauses;
    }
    m_parking.m_changed.notify_all();
}
