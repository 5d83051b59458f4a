#pragma once

// libobs for the whole process: started for audio only, with the capture plug-ins, our log and
// its hotkey thread held still, and shut down again when its last user lets go.

#include <QString>

#include <functional>
#include <memory>

#include "audio/obs_hotkey_parking.h"

// libobs is one per process and can run once at a time, so every capture manager shares the
// one runtime: the first acquire starts libobs (48 kHz stereo, no video), the last owner to go
// shuts it down. libobs may then be started again. Main thread only.
class ObsRuntime {
public:
    enum class Failure { None, Core, Modules };

    // The running libobs, started first when nobody holds it; null, with `failure` saying
    // which step failed, when it cannot start. Blocks for the plug-ins' start-up.
    static std::shared_ptr<ObsRuntime> acquire(Failure* failure);

    ~ObsRuntime();
    ObsRuntime(const ObsRuntime&) = delete;
    ObsRuntime& operator=(const ObsRuntime&) = delete;

    // Where the capture plug-ins were loaded from.
    const QString& pluginPath() const { return m_pluginPath; }

    // Creating or releasing a source (un)registers its hotkeys under libobs's hotkey lock, so
    // such calls run while a ObsHotkeyParking::Pause of this parking exists.
    ObsHotkeyParking& hotkeyParking() { return *m_hotkeyParking; }

    // When the X display libobs talks to goes away, libobs's hotkey thread is held for good at
    // once (its next poll would crash the process) and `listener` runs, on a thread of the
    // watch's own. From then on libobs must not be asked to create or release a source, nor to
    // shut down: it is left as it is until the process ends. Any thread; null to remove.
    static void setDisplayLostListener(std::function<void()> listener);
    // Any thread, never blocks.
    static bool displayLost();

private:
    ObsRuntime() = default;

    bool startCore();
    bool loadModules();
    void watchDisplay();

    // Shared with the display watch, which may hold it for good from its own thread; left
    // behind (never destroyed) once the display is gone, as its thread then never ends.
    std::shared_ptr<ObsHotkeyParking> m_hotkeyParking = std::make_shared<ObsHotkeyParking>();
    QString m_pluginPath;
    QString m_dataPath;
};
