#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// libobs starts a hotkey thread that polls the keyboard 40 times a second for as long as libobs
// runs; under X11 every poll is four round trips to the X server (about 200 wake-ups a second
// between the two processes). We never register a libobs hotkey, so a thread of our own holds
// libobs's hotkey lock, which stops the poll where it stands.
//
// The hold is let go for a moment once a second, so a libobs thread that needs the lock for
// its own purposes (a source it destroys) waits at most that long, and for as long as a
// `Pause` exists, around our own calls that register or unregister a source's hotkeys
// (creating or releasing a source, libobs's shutdown).
class ObsHotkeyParking {
public:
    ObsHotkeyParking() = default;
    ~ObsHotkeyParking();
    ObsHotkeyParking(const ObsHotkeyParking&) = delete;
    ObsHotkeyParking& operator=(const ObsHotkeyParking&) = delete;

    // After obs_startup. Idempotent.
    void start();
    // Lets go for good; call before obs_shutdown. Idempotent. After holdForGood() the hold is
    // never let go: stop() then leaves the thread waiting (the object must then never be
    // destroyed; see ObsRuntime).
    void stop();
    // Any thread, never blocks: from now on the lock is held for good, also against Pauses.
    // For when libobs's hotkey thread must never run again (its X display went away: its next
    // poll would crash the process).
    void holdForGood();

    // While one exists the lock is free; its constructor returns once the hold is let go.
    // Nestable, any thread but the parking one.
    class Pause {
    public:
        explicit Pause(ObsHotkeyParking& parking);
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;

    private:
        ObsHotkeyParking& m_parking;
    };

private:
    static void hold(void* self);
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
    bool m_stopping = false;
    bool m_holding = false;
    bool m_forGood = false;
    int m_pauses = 0;
};
