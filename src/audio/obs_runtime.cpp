// libobs's start-up and shutdown, once per process at a time.
#include "audio/obs_runtime.h"

#include <obs-module.h>
#include <obs.h>
#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "audio/mix_format.h"
#include "core/log_categories.h"
#include "platform/audio_threads.h"
#include "platform/obs_capture.h"

namespace {

// The runtime every manager shares while one of them holds it. Main thread only.
std::weak_ptr<ObsRuntime> g_current;

// Who hears of the display's end; set on the main thread, called on the display watch's.
std::mutex g_listenerMutex;
std::function<void()> g_displayLostListener;

void obsLogHandler(int level, const char* format, va_list args, void*) {
    char buffer[4096];
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    switch (level) {
        case LOG_ERROR:
            qCCritical(lcObs).noquote() << buffer;
            break;
        case LOG_WARNING:
            qCWarning(lcObs).noquote() << buffer;
            break;
        case LOG_INFO:
            qCInfo(lcObs).noquote() << buffer;
            break;
        default:
            qCDebug(lcObs).noquote() << buffer;
            break;
    }
}

// A folder shipped beside the executable wins; otherwise the system's libobs installation.
QString chooseDirectory(const QString& shipped, const std::string& system, const char* what) {
    const QString systemDir = QString::fromStdString(system);
    if (!QFileInfo(shipped).isDir() && !systemDir.isEmpty() && QFileInfo(systemDir).isDir()) {
        qCDebug(lcObsAudio) << "Using system libobs directory for" << what;
        return systemDir;
    }
    return shipped;
}

void logAudioSourceTypes() {
    const char* id = nullptr;
    for (size_t index = 0; obs_enum_source_types(index, &id); ++index) {
        const QString type = QString::fromUtf8(id);
        bool relevant = false;
        for (const char* word : {"audio", "wasapi", "capture", "process"}) {
            if (type.contains(QLatin1String(word), Qt::CaseInsensitive)) {
                relevant = true;
                break;
            }
        }
        if (!relevant) continue;
        const char* displayName = obs_source_get_display_name(id);
        qCDebug(lcObsAudio) << "Source:" << type << "("
                            << (displayName ? QString::fromUtf8(displayName)
                                            : QStringLiteral("no name"))
                            << ")";
    }
}

}  // namespace

std::shared_ptr<ObsRuntime> ObsRuntime::acquire(Failure* failure) {
    *failure = Failure::None;
    if (std::shared_ptr<ObsRuntime> running = g_current.lock()) return running;

    std::shared_ptr<ObsRuntime> runtime(new ObsRuntime());
    if (!runtime->startCore()) {
        *failure = Failure::Core;
        return nullptr;
    }
    // Released here on failure, which shuts libobs down again.
    if (!runtime->loadModules()) {
        *failure = Failure::Modules;
        return nullptr;
    }
    runtime->m_hotkeyParking->start();
    runtime->watchDisplay();
    qCInfo(lcObsAudio).noquote() << "libobs started for audio capture:" << mixformat::kSampleRateHz
                                 << "Hz stereo, plug-ins from" << runtime->m_pluginPath;
    g_current = runtime;
    return runtime;
}

void ObsRuntime::setDisplayLostListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> lock(g_listenerMutex);
    g_displayLostListener = std::move(listener);
}

bool ObsRuntime::displayLost() { return platform::obsDisplayLost(); }

void ObsRuntime::watchDisplay() {
    platform::watchObsDisplay([parking = std::weak_ptr<ObsHotkeyParking>(m_hotkeyParking)] {
        if (std::shared_ptr<ObsHotkeyParking> held = parking.lock()) held->holdForGood();
        std::function<void()> listener;
        {
            std::lock_guard<std::mutex> lock(g_listenerMutex);
            listener = g_displayLostListener;
        }
        if (listener) listener();
    });
}

ObsRuntime::~ObsRuntime() {
    if (displayLost()) {
        // Its hotkey thread waits for a lock that is never let go, and libobs's shutdown would
        // wait for that thread: libobs and the parking stay as they are until the process ends.
        m_hotkeyParking->stop();
        new std::shared_ptr<ObsHotkeyParking>(std::move(m_hotkeyParking));
        qCWarning(lcObsAudio) << "libobs left running: its X display went away";
        return;
    }
    // libobs's shutdown waits for its hotkey thread, which must be able to take its lock.
    m_hotkeyParking->stop();
    if (obs_initialized()) {
        obs_shutdown();
        qCInfo(lcObsAudio) << "libobs stopped";
    }
}

bool ObsRuntime::startCore() {
    const QDir appDir(QCoreApplication::applicationDirPath());
    m_pluginPath = chooseDirectory(appDir.absoluteFilePath(QStringLiteral("obs-plugins/64bit")),
                                   platform::obsSystemPluginDirectory(), "plugins");
    m_dataPath = chooseDirectory(appDir.absoluteFilePath(QStringLiteral("obs-data")),
                                 platform::obsSystemDataDirectory(), "data");
    qCDebug(lcObsAudio) << "Plugin path:" << m_pluginPath;
    qCDebug(lcObsAudio) << "Data path:" << m_dataPath;

    // Started by someone else in this process: taken over as it is.
    if (obs_initialized()) return true;

    const std::string problem = platform::obsStartupProblem();
    if (!problem.empty()) {
        qCWarning(lcObsAudio).noquote() << QString::fromStdString(problem);
        qCWarning(lcObsAudio) << "Failed to start up libobs";
        return false;
    }
    // Installed before start-up, so libobs's own account of a failed start reaches our log.
    base_set_log_handler(&obsLogHandler, nullptr);
    // libobs starts its threads here and in obs_reset_audio: hand them clean vector registers.
    platform::clearUpperVectorState();
    // A failed start-up shuts libobs down again by itself.
    if (!obs_startup("en-US", nullptr, nullptr)) {
        qCWarning(lcObsAudio) << "Failed to start up libobs";
        return false;
    }
    qCDebug(lcObsAudio) << "libobs core started up";

    obs_audio_info audioInfo = {};
    audioInfo.samples_per_sec = mixformat::kSampleRateHz;
    audioInfo.speakers = SPEAKERS_STEREO;
    platform::clearUpperVectorState();
    if (!obs_reset_audio(&audioInfo)) {
        qCWarning(lcObsAudio) << "Failed to reset OBS audio subsystem";
        obs_shutdown();
        return false;
    }
    return true;
}

bool ObsRuntime::loadModules() {
    // Only the capture modules: loading every installed plug-in aborts on Linux, where some of
    // them build Qt 5 widgets at load time.
    bool loaded = true;
    for (const std::string& module : platform::obsCaptureModules()) {
        const QString name = QString::fromStdString(module);
        const QString binary = m_pluginPath + QLatin1Char('/') +
                               QString::fromStdString(platform::obsModuleFileName(module));
        const QString data = m_dataPath + QStringLiteral("/obs-plugins/") + name;
        obs_module_t* handle = nullptr;
        const int result =
            obs_open_module(&handle, binary.toUtf8().constData(), data.toUtf8().constData());
        if (result != MODULE_SUCCESS) {
            qCWarning(lcObsAudio) << "Failed to open OBS module" << binary << "(error" << result
                                  << ")";
            loaded = false;
            continue;
        }
        if (!obs_init_module(handle)) {
            qCWarning(lcObsAudio) << "Failed to initialize OBS module" << name;
            loaded = false;
            continue;
        }
        qCDebug(lcObsAudio) << "Loaded OBS module" << name;
    }
    // Program capture is welcome but not essential: without it the decks still take devices.
    if (!platform::registerObsProgramCaptureType()) {
        qCWarning(lcObsAudio) << "Program audio capture is not available:"
                              << platform::obsCaptureTypes().programType;
    }
    obs_post_load_modules();
    logAudioSourceTypes();
    return loaded;
}
