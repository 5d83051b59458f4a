#pragma once

// libobs for the whole process: started for audio only, with the capture plug-ins, our log and
// its hotkey thread held still, and shut down again when its last user lets go.

#include <QString>

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
    ObsHotkeyParking& hotkeyParking() { return m_hotkeyParking; }

private:
    ObsRuntime() = default;

    bool startCore();
    bool loadModules();

    ObsHotkeyParking m_hotkeyParking;
    QString m_pluginPath;
    QString m_dataPath;
};
