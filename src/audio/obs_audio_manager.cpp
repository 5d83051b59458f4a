#include "audio/obs_audio_manager.h"

#include <obs-module.h>
#include <obs.h>
#include <util/base.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <thread>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include "audio/obs_handles.h"
#include "core/log_categories.h"
#include "core/logger.h"
#include "platform/obs_capture.h"
#include "platform/audio_threads.h"

// The installed callback, published as one immutable object: the capture path only loads a
// pointer, so it never waits for a setter and never copies (or allocates) a std::function.
struct OBSAudioManager::CallbackBox {
    DeckAudioCallback callback;
};

namespace {

constexpr char kDeviceIdSetting[] = "device_id";
constexpr char kWindowSetting[] = "window";
constexpr char kBufferSizeSetting[] = "buffer_size";
constexpr int kInputBufferMs = 200;
constexpr char kAppInputPrefix[] = "app:";
constexpr qsizetype kMaxAppNameLength = 50;
constexpr std::int64_t kRateReportIntervalMs = 5000;
constexpr int kLevelLogIntervalMs = 1000;

std::atomic<bool> g_firstAudioCallbackLogged{false};
std::atomic<int> g_appSourceCounter{0};

// Shell and desktop-service processes that play short sounds nobody wants to broadcast.
const QSet<QString>& desktopShellExecutables() {
    static const QSet<QString> names{
        // Windows
        QStringLiteral("explorer.exe"), QStringLiteral("applicationframehost.exe"),
        QStringLiteral("systemsettings.exe"), QStringLiteral("searchhost.exe"),
        QStringLiteral("shellexperiencehost.exe"), QStringLiteral("startmenuexperiencehost.exe"),
        QStringLiteral("textinputhost.exe"),
        // Linux desktops
        QStringLiteral("gnome-shell"), QStringLiteral("gsd-media-keys"),
        QStringLiteral("plasmashell"), QStringLiteral("kwin_x11"), QStringLiteral("kwin_wayland"),
        QStringLiteral("xfce4-panel"), QStringLiteral("xfce4-notifyd"), QStringLiteral("cinnamon"),
        QStringLiteral("mate-panel"), QStringLiteral("canberra-gtk-play")};
    return names;
}

const QHash<QString, QString>& friendlyProgramNames() {
    static const QHash<QString, QString> names{
        {QStringLiteral("msedge.exe"), QStringLiteral("Microsoft Edge")},
        {QStringLiteral("chrome.exe"), QStringLiteral("Google Chrome")},
        {QStringLiteral("firefox.exe"), QStringLiteral("Mozilla Firefox")},
        {QStringLiteral("spotify.exe"), QStringLiteral("Spotify")},
        {QStringLiteral("discord.exe"), QStringLiteral("Discord")},
        {QStringLiteral("vlc.exe"), QStringLiteral("VLC Media Player")},
        {QStringLiteral("wmplayer.exe"), QStringLiteral("Windows Media Player")},
        {QStringLiteral("foobar2000.exe"), QStringLiteral("foobar2000")},
        // The executables of the same programs on Linux.
        {QStringLiteral("msedge"), QStringLiteral("Microsoft Edge")},
        {QStringLiteral("chrome"), QStringLiteral("Google Chrome")},
        {QStringLiteral("chromium"), QStringLiteral("Chromium")},
        {QStringLiteral("firefox"), QStringLiteral("Mozilla Firefox")},
        {QStringLiteral("firefox-esr"), QStringLiteral("Mozilla Firefox")},
        {QStringLiteral("spotify"), QStringLiteral("Spotify")},
        {QStringLiteral("discord"), QStringLiteral("Discord")},
        {QStringLiteral("vlc"), QStringLiteral("VLC Media Player")}};
    return names;
}

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

double toLogDb(double value) { return value > 0.0 ? 20.0 * std::log10(value) : -90.0; }

}  // namespace

DeckSlot::DeckSlot()
    : meter(std::make_unique<DeckLevelMeter>()),
      interleaveBuffer(static_cast<std::size_t>(OBSAudioManager::kInitialScratchFrames) *
                           OBSAudioManager::kChannels,
                       0.0f) {}

OBSAudioManager::OBSAudioManager(QObject* parent) : QObject(parent) {
    m_diagnosticsTimer.setInterval(kLevelLogIntervalMs);
    connect(&m_diagnosticsTimer, &QTimer::timeout, this, &OBSAudioManager::onDiagnosticsTimer);
    m_diagnosticsClock.start();
}

OBSAudioManager::~OBSAudioManager() {
    shutdown();
    publishCallback(nullptr);
}

DeckSlot* OBSAudioManager::slotFor(int deck) {
    return deck >= 1 && deck <= kDeckCount ? &m_decks[static_cast<std::size_t>(deck - 1)] : nullptr;
}

const DeckSlot* OBSAudioManager::slotFor(int deck) const {
    return deck >= 1 && deck <= kDeckCount ? &m_decks[static_cast<std::size_t>(deck - 1)] : nullptr;
}

// --- start-up and shutdown -----------------------------------------------------------------

bool OBSAudioManager::initialize() {
    if (m_initialized) {
        qCInfo(lcObsAudio) << "OBSAudioManager already initialized";
        return true;
    }
    qCInfo(lcObsAudio) << "Initializing OBS Audio Manager (capture only)...";
    if (!initializeOBS()) {
        Q_EMIT errorOccurred(QStringLiteral("Failed to initialize libobs"));
        return false;
    }
    if (!loadOBSModules()) {
        Q_EMIT errorOccurred(QStringLiteral("Failed to load OBS modules"));
        shutdownOBS();
        return false;
    }
    m_initialized = true;
    m_hotkeyParking.start();
    qCInfo(lcObsAudio) << "OBS Audio Manager initialized successfully";
    return true;
}

bool OBSAudioManager::initializeOBS() {
    const QDir appDir(QCoreApplication::applicationDirPath());
    m_pluginPath = appDir.absoluteFilePath(QStringLiteral("obs-plugins/64bit"));
    m_dataPath = appDir.absoluteFilePath(QStringLiteral("obs-data"));

    // Plug-ins shipped beside the executable win; otherwise the system's libobs installation.
    const QString systemPlugins = QString::fromStdString(platform::obsSystemPluginDirectory());
    const QString systemData = QString::fromStdString(platform::obsSystemDataDirectory());
    if (!QFileInfo(m_pluginPath).isDir() && !systemPlugins.isEmpty() &&
        QFileInfo(systemPlugins).isDir()) {
        m_pluginPath = systemPlugins;
        qCInfo(lcObsAudio) << "Using system libobs directory for plugins";
    }
    if (!QFileInfo(m_dataPath).isDir() && !systemData.isEmpty() && QFileInfo(systemData).isDir()) {
        m_dataPath = systemData;
        qCInfo(lcObsAudio) << "Using system libobs directory for data";
    }
    qCInfo(lcObsAudio) << "Plugin path:" << m_pluginPath;
    qCInfo(lcObsAudio) << "Data path:" << m_dataPath;

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
    if (!obs_startup("en-US", nullptr, nullptr)) {
        qCWarning(lcObsAudio) << "Failed to start up libobs";
        return false;
    }
    qCInfo(lcObsAudio) << "libobs core started up successfully";

    obs_audio_info audioInfo = {};
    audioInfo.samples_per_sec = kSampleRateHz;
    audioInfo.speakers = SPEAKERS_STEREO;
    platform::clearUpperVectorState();
    if (!obs_reset_audio(&audioInfo)) {
        qCWarning(lcObsAudio) << "Failed to reset OBS audio subsystem";
        obs_shutdown();
        return false;
    }
    qCInfo(lcObsAudio) << "libobs audio initialized:" << kSampleRateHz << "Hz, stereo";
    return true;
}

bool OBSAudioManager::loadOBSModules() {
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
        qCInfo(lcObsAudio) << "Loaded OBS module" << name;
    }
    // Program capture is welcome but not essential: without it the decks still take devices.
    if (!platform::registerObsProgramCaptureType()) {
        qCWarning(lcObsAudio) << "Program audio capture is not available:"
                              << platform::obsCaptureTypes().programType;
    }
    obs_post_load_modules();
    qCInfo(lcObsAudio) << "OBS modules loaded";
    logAvailableSourceTypes();
    return loaded;
}

void OBSAudioManager::logAvailableSourceTypes() const {
    qCInfo(lcObsAudio) << "=== Available audio source types ===";
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
        qCInfo(lcObsAudio) << "  Source:" << type << "("
                           << (displayName ? QString::fromUtf8(displayName)
                                           : QStringLiteral("no name"))
                           << ")";
    }
    qCInfo(lcObsAudio) << "=== End source types ===";
}

void OBSAudioManager::shutdown() {
    if (!m_initialized) return;
    qCInfo(lcObsAudio) << "Shutting down OBS Audio Manager...";
    for (int deck = 1; deck <= kDeckCount; ++deck) stopDeck(deck);
    for (DeckSlot& slot : m_decks) releaseDeckSource(slot);
    shutdownOBS();
    m_initialized = false;
    qCInfo(lcObsAudio) << "OBS Audio Manager shut down";
}

void OBSAudioManager::shutdownOBS() {
    // libobs's shutdown waits for its hotkey thread, which must be able to take its lock.
    m_hotkeyParking.stop();
    if (obs_initialized()) {
        obs_shutdown();
        qCInfo(lcObsAudio) << "libobs shut down";
    }
}

// --- deck inputs ---------------------------------------------------------------------------

void OBSAudioManager::releaseDeckSource(DeckSlot& slot) {
    const ObsHotkeyParking::Pause unparked(m_hotkeyParking);  // the source's hotkeys go with it
    obshandle::Source(slot.source.exchange(nullptr));
}

obs_source* OBSAudioManager::createInputDeviceSource(const QString& deviceId) {
    const platform::ObsCaptureTypes& types = platform::obsCaptureTypes();
    const char* type = types.inputType;
    for (const CaptureDevice& device : captureDevices()) {
        if (device.id == deviceId) {
            type = device.sourceType;
            break;
        }
    }
    obshandle::Data settings(obs_data_create());
    obs_data_set_string(settings.get(), kDeviceIdSetting, deviceId.toUtf8().constData());
    obs_data_set_int(settings.get(), kBufferSizeSetting, kInputBufferMs);
    obs_source_t* source = obs_source_create(type, "Audio Input", settings.get(), nullptr);
    if (!source) {
        qCWarning(lcObsAudio) << "Failed to create input source with type:" << type
                              << "device:" << deviceId;
        return nullptr;
    }
    qCDebug(lcObsAudio) << "Created input device source (" << type << "):" << deviceId;
    if (types.inputTakesBufferSize) {
        qCDebug(lcObsAudio).noquote() << types.apiName << "buffer configured: 200ms";
    }
    return source;
}

obs_source* OBSAudioManager::createAppAudioSource(const QString& window) {
    obshandle::Data settings(obs_data_create());
    obs_data_set_string(settings.get(), kWindowSetting, window.toUtf8().constData());
    const QString name = QStringLiteral("App Audio %1").arg(++g_appSourceCounter);
    obs_source_t* source = obs_source_create(platform::obsCaptureTypes().programType,
                                             name.toUtf8().constData(), settings.get(), nullptr);
    if (!source) {
        qCWarning(lcObsAudio) << "Failed to create app audio source for:" << window;
        return nullptr;
    }
    qCDebug(lcObsAudio) << "Created app audio source:" << window;
    return source;
}

DeckSlot* OBSAudioManager::replaceDeckSource(int deck, const std::function<obs_source*()>& create,
                                             const char* failure) {
    DeckSlot* slot = slotFor(deck);
    if (!slot) {
        qCWarning(lcObsAudio) << "Invalid deck number:" << deck;
        return nullptr;
    }
    stopDeck(deck);
    releaseDeckSource(*slot);
    obs_source* source = nullptr;
    if (m_initialized) {
        const ObsHotkeyParking::Pause unparked(m_hotkeyParking);  // a new source registers hotkeys
        source = create();
    }
    if (!source) {
        qCWarning(lcObsAudio) << failure << deck;
        return nullptr;
    }
    slot->source.store(source);
    return slot;
}

bool OBSAudioManager::setDeckInputDevice(int deck, const QString& deviceId) {
    DeckSlot* slot = replaceDeckSource(
        deck, [&] { return createInputDeviceSource(deviceId); },
        "Failed to create input source for deck");
    if (!slot) return false;
    slot->inputId = deviceId;
    qCInfo(lcObsAudio) << "Deck" << deck << "input device set to:" << deviceId;
    return true;
}

bool OBSAudioManager::setDeckInput(int deck, int index) {
    DeckSlot* slot = slotFor(deck);
    if (!slot) return false;
    if (index < 0) {
        stopDeck(deck);
        releaseDeckSource(*slot);
        slot->inputId.clear();
        slot->meter->reset();
        qCDebug(lcObsAudio) << "Deck" << deck << "input cleared";
        return true;
    }
    const QStringList ids = getInputDeviceIds();
    if (index >= ids.size()) return false;
    return setDeckInputDevice(deck, ids.at(index));
}

bool OBSAudioManager::setDeckAppCapture(int deck, const QString& window) {
    DeckSlot* slot = replaceDeckSource(
        deck, [&] { return createAppAudioSource(window); },
        "Failed to create app audio source for deck");
    if (!slot) return false;
    slot->inputId = QLatin1String(kAppInputPrefix) + window;
    qCDebug(lcObsAudio) << "Deck" << deck << "set to capture app:" << window;
    return true;
}

QString OBSAudioManager::deckInputId(int deck) const {
    const DeckSlot* slot = slotFor(deck);
    return slot ? slot->inputId : QString();
}

bool OBSAudioManager::hasDeckSource(int deck) const {
    const DeckSlot* slot = slotFor(deck);
    return slot && slot->source.load() != nullptr;
}

// --- running a deck ------------------------------------------------------------------------

bool OBSAudioManager::startDeck(int deck) {
    DeckSlot* slot = slotFor(deck);
    if (!slot) return false;
    obs_source_t* source = slot->source.load();
    if (!source) return false;
    if (slot->active.load()) {
        qCDebug(lcObsAudio) << "Deck" << deck << "already active";
        return true;
    }
    slot->meter->reset();
    obs_source_inc_showing(source);
    obs_source_inc_active(source);
    // Active before the callback is attached, so the very first buffer is taken.
    slot->active.store(true);
    obs_source_add_audio_capture_callback(source, &OBSAudioManager::audioCallback, this);
    qCDebug(lcObsAudio) << "Started deck" << deck;
    updateDiagnosticsTimer();
    Q_EMIT deckStarted(deck);
    return true;
}

void OBSAudioManager::stopDeck(int deck) {
    DeckSlot* slot = slotFor(deck);
    if (!slot || !slot->active.load()) return;
    slot->active.store(false);
    if (obs_source_t* source = slot->source.load()) {
        // libobs runs capture callbacks under the same lock that removal takes, so once this
        // returns no buffer of this source is still on its way.
        obs_source_remove_audio_capture_callback(source, &OBSAudioManager::audioCallback, this);
        obs_source_dec_showing(source);
        obs_source_dec_active(source);
    }
    slot->meter->reset();
    qCDebug(lcObsAudio) << "Stopped deck" << deck;
    updateDiagnosticsTimer();
    Q_EMIT deckStopped(deck);
}

bool OBSAudioManager::isDeckActive(int deck) const {
    const DeckSlot* slot = slotFor(deck);
    return slot && slot->active.load();
}

// --- callback, levels, volume --------------------------------------------------------------

void OBSAudioManager::setDeckAudioCallback(DeckAudioCallback callback) {
    publishCallback(callback ? new CallbackBox{std::move(callback)} : nullptr);
}

void OBSAudioManager::clearDeckAudioCallback() { publishCallback(nullptr); }

void OBSAudioManager::publishCallback(CallbackBox* box) {
    std::lock_guard<std::mutex> lock(m_callbackWriteMutex);
    CallbackBox* old = m_callback.exchange(box);
    if (!old) return;
    const unsigned oldParity = m_callbackEpoch.fetch_add(1) & 1u;
    int spins = 0;
    while (m_callbackReaders[oldParity].load() != 0) {
        if (++spins < 64) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    delete old;
}

DeckLevels OBSAudioManager::getDeckLevels(int deck) const {
    const DeckSlot* slot = slotFor(deck);
    if (!slot || !slot->meter) return DeckLevels{};
    return slot->meter->levels();
}

DeckCaptureStats OBSAudioManager::deckCaptureStats(int deck) const {
    DeckCaptureStats stats;
    if (const DeckSlot* slot = slotFor(deck)) {
        stats.buffers = slot->buffers.load(std::memory_order_relaxed);
        stats.frames = slot->frames.load(std::memory_order_relaxed);
        stats.muted = slot->muted.load(std::memory_order_relaxed);
        stats.forwarded = slot->forwarded.load(std::memory_order_relaxed);
        stats.unforwarded = slot->unforwarded.load(std::memory_order_relaxed);
    }
    return stats;
}

void OBSAudioManager::setDeckVolume(int deck, float linear) {
    if (DeckSlot* slot = slotFor(deck)) slot->volume = linear;
}

float OBSAudioManager::getDeckVolume(int deck) const {
    const DeckSlot* slot = slotFor(deck);
    return slot ? slot->volume : 1.0f;
}

// --- enumeration ---------------------------------------------------------------------------

QList<QPair<QString, QString>> OBSAudioManager::listItems(const char* sourceType,
                                                          const char* property,
                                                          bool verbose) const {
    QList<QPair<QString, QString>> items;
    if (!m_initialized) {
        if (verbose)
            qCWarning(lcObsAudio) << "Cannot enumerate audio devices - OBS not initialized";
        return items;
    }
    if (verbose) {
        qCDebug(lcObsAudio) << "Enumerating devices for source:" << sourceType
                            << "property:" << property;
    }
    if (!obs_source_get_display_name(sourceType)) {
        if (verbose) qCWarning(lcObsAudio) << "Source type not registered:" << sourceType;
        return items;
    }
    if (verbose) qCDebug(lcObsAudio) << "Source type is registered:" << sourceType;

    obshandle::Properties properties(obs_get_source_properties(sourceType));
    if (!properties) {
        if (verbose) qCWarning(lcObsAudio) << "Failed to get source properties for:" << sourceType;
        return items;
    }
    if (verbose) qCDebug(lcObsAudio) << "Got properties for source:" << sourceType;

    obs_property_t* list = obs_properties_get(properties.get(), property);
    if (!list || obs_property_get_type(list) != OBS_PROPERTY_LIST) {
        if (verbose) {
            qCWarning(lcObsAudio) << "Failed to get property:" << property
                                  << "for source:" << sourceType;
            for (obs_property_t* p = obs_properties_first(properties.get()); p;) {
                qCDebug(lcObsAudio) << "  Available property:" << obs_property_name(p);
                if (!obs_property_next(&p)) break;
            }
        }
        return items;
    }
    const size_t count = obs_property_list_item_count(list);
    if (verbose) qCDebug(lcObsAudio) << "Found" << count << "devices for source:" << sourceType;
    for (size_t i = 0; i < count; ++i) {
        const char* name = obs_property_list_item_name(list, i);
        const char* value = obs_property_list_item_string(list, i);
        items.append({name ? QString::fromUtf8(name) : QString(),
                      value ? QString::fromUtf8(value) : QString()});
    }
    return items;
}

std::vector<OBSAudioManager::CaptureDevice> OBSAudioManager::captureDevices() const {
    const platform::ObsCaptureTypes& types = platform::obsCaptureTypes();
    std::vector<CaptureDevice> devices;
    QSet<QString> ids;
    // Names and ids come from one walk so they always line up; an item without an id cannot be
    // captured, an item without a name shows its id.
    for (const auto& item : listItems(types.inputType, kDeviceIdSetting, true)) {
        if (item.second.isEmpty()) continue;
        ids.insert(item.second);
        devices.push_back(
            {item.first.isEmpty() ? item.second : item.first, item.second, types.inputType});
    }
    if (!types.outputType) return devices;
    for (const auto& item : listItems(types.outputType, kDeviceIdSetting, false)) {
        // "default" names the default input as well as the default output: the input keeps it,
        // and the default output stays reachable under its own device id.
        if (item.second.isEmpty() || ids.contains(item.second)) continue;
        ids.insert(item.second);
        const QString name = item.first.isEmpty() ? item.second : item.first;
        devices.push_back(
            {QStringLiteral("Monitor of %1").arg(name), item.second, types.outputType});
    }
    return devices;
}

QStringList OBSAudioManager::enumerateAudioDevices(const char* sourceType,
                                                   const char* property) const {
    QStringList values;
    for (const auto& item : listItems(sourceType, property, true)) {
        if (!item.second.isEmpty()) values.append(item.second);
    }
    return values;
}

QStringList OBSAudioManager::getInputDeviceNames() const {
    qCDebug(lcObsAudio) << "getInputDeviceNames() called";
    qCDebug(lcObsAudio).noquote() << "Using" << platform::obsCaptureTypes().apiName
                                  << "input capture";
    QStringList names;
    for (const CaptureDevice& device : captureDevices()) names.append(device.name);
    return names;
}

QStringList OBSAudioManager::getInputDeviceIds() const {
    QStringList ids;
    for (const CaptureDevice& device : captureDevices()) ids.append(device.id);
    return ids;
}

QList<OBSAudioManager::AppInfo> OBSAudioManager::getRunningApplications() const {
    if (!m_initialized) return {};
    const char* type = platform::obsCaptureTypes().programType;
    if (!obs_source_get_display_name(type)) {
        qCWarning(lcObsAudio) << type << "source type not available";
        return {};
    }
    return appInfosFromListItems(listItems(type, kWindowSetting, false));
}

QList<OBSAudioManager::AppInfo> OBSAudioManager::appInfosFromListItems(
    const QList<QPair<QString, QString>>& items) {
    QList<AppInfo> apps;
    QSet<QString> seen;
    for (const auto& item : items) {
        const QString& label = item.first;
        const QString& value = item.second;
        if (label.isEmpty() || value.isEmpty()) continue;
        const QStringList parts = value.split(QLatin1Char(':'), Qt::KeepEmptyParts);
        const QString exe = parts.size() >= 3 ? parts.last().toLower() : QString();
        if (desktopShellExecutables().contains(exe)) continue;
        if (!exe.isEmpty() && seen.contains(exe)) continue;

        AppInfo app;
        app.window = value;
        if (exe.isEmpty()) {
            app.name = label;
        } else {
            seen.insert(exe);
            const auto known = friendlyProgramNames().constFind(exe);
            if (known != friendlyProgramNames().constEnd()) {
                app.name = *known;
            } else if (label.size() <= kMaxAppNameLength) {
                app.name = label;
            } else {
                app.name = label.left(kMaxAppNameLength - 3) + QStringLiteral("...");
            }
        }
        apps.append(app);
    }
    return apps;
}

// --- capture path --------------------------------------------------------------------------

void OBSAudioManager::audioCallback(void* param, obs_source* source, const audio_data* data,
                                    bool muted) {
    // The capture thread may have been born with dirty vector registers (see
    // platform/audio_threads.h); cleared here, libobs's own work on this thread gains as well.
    platform::clearUpperVectorState();
    if (!g_firstAudioCallbackLogged.exchange(true)) {
        qCInfo(lcObsAudio) << "First audio callback received (muted:" << muted << ")";
    }
    auto* self = static_cast<OBSAudioManager*>(param);
    if (!self || !source || !data) return;
    for (int deck = 1; deck <= kDeckCount; ++deck) {
        DeckSlot& slot = self->m_decks[static_cast<std::size_t>(deck - 1)];
        if (slot.active.load(std::memory_order_acquire) &&
            slot.source.load(std::memory_order_acquire) == source) {
            // libobs hands over its own mix format, set at start-up: planar float stereo.
            self->handleAudioData(deck, reinterpret_cast<const float*>(data->data[0]),
                                  reinterpret_cast<const float*>(data->data[1]), data->frames,
                                  muted);
            return;
        }
    }
}

void OBSAudioManager::handleAudioData(int deck, const float* left, const float* right,
                                      std::uint32_t frames, bool muted) {
    DeckSlot* slot = slotFor(deck);
    if (!slot || frames == 0) return;

    const std::size_t needed = static_cast<std::size_t>(frames) * kChannels;
    std::vector<float>& buffer = slot->interleaveBuffer;
    if (buffer.size() < needed) {
        qCWarning(lcObsAudio).nospace() << "Interleaved buffer too small (" << buffer.size()
                                        << " < " << needed << "), resizing on audio thread";
        buffer.resize(needed);
    }
    float* out = buffer.data();
    for (std::uint32_t i = 0; i < frames; ++i) {
        out[2 * i] = left ? left[i] : 0.0f;
        out[2 * i + 1] = right ? right[i] : 0.0f;
    }

    slot->buffers.fetch_add(1, std::memory_order_relaxed);
    slot->frames.fetch_add(frames, std::memory_order_relaxed);
    if (m_verboseCapture.load(std::memory_order_relaxed)) {
        float peak = 0.0f;
        double sumSquares = 0.0;
        for (std::size_t i = 0; i < needed; ++i) {
            peak = std::max(peak, std::fabs(out[i]));
            sumSquares += static_cast<double>(out[i]) * out[i];
        }
        slot->lastPeak.store(peak, std::memory_order_relaxed);
        slot->lastRms.store(static_cast<float>(std::sqrt(sumSquares / static_cast<double>(needed))),
                            std::memory_order_relaxed);
        slot->lastMuted.store(muted, std::memory_order_relaxed);
    }
    if (muted) {
        slot->muted.fetch_add(1, std::memory_order_relaxed);
        return;
    }

    slot->meter->process(out, static_cast<int>(frames), kChannels);

    // Register under the current epoch before looking at the callback; re-check the epoch so a
    // setter that flipped meanwhile is not kept waiting by this entry.
    unsigned parity = 0;
    for (;;) {
        parity = m_callbackEpoch.load() & 1u;
        m_callbackReaders[parity].fetch_add(1);
        if ((m_callbackEpoch.load() & 1u) == parity) break;
        m_callbackReaders[parity].fetch_sub(1);
    }
    const CallbackBox* box = m_callback.load();
    if (box) {
        if (!m_forwardNoticeLogged.exchange(true)) {
            qCInfo(lcObsAudio) << "Calling deck audio callback for deck" << deck << "(" << frames
                               << "frames," << kChannels << "channels)";
        }
        box->callback(deck, out, static_cast<int>(frames), kChannels, kSampleRateHz);
    }
    m_callbackReaders[parity].fetch_sub(1);

    if (box) {
        slot->forwarded.fetch_add(1, std::memory_order_relaxed);
    } else {
        slot->unforwarded.fetch_add(1, std::memory_order_relaxed);
        if (!m_noCallbackNoticeLogged.exchange(true)) {
            qCInfo(lcObsAudio) << "Deck audio callback not set, audio data will not be forwarded";
        }
    }
}

void OBSAudioManager::updateDiagnosticsTimer() {
    bool anyActive = false;
    for (const DeckSlot& slot : m_decks) anyActive = anyActive || slot.active.load();
    if (anyActive && !m_diagnosticsTimer.isActive()) {
        for (DeckSlot& slot : m_decks) slot.reportedAtMs = -1;
        m_verboseCapture.store(Logger::instance().isFileLoggingEnabled());
        m_diagnosticsTimer.start();
    } else if (!anyActive) {
        m_diagnosticsTimer.stop();
    }
}

void OBSAudioManager::onDiagnosticsTimer() {
    const bool verbose = Logger::instance().isFileLoggingEnabled();
    m_verboseCapture.store(verbose);
    const std::int64_t nowMs = m_diagnosticsClock.elapsed();
    for (int deck = 1; deck <= kDeckCount; ++deck) {
        DeckSlot& slot = m_decks[static_cast<std::size_t>(deck - 1)];
        if (!slot.active.load()) continue;

        const std::uint64_t frames = slot.frames.load(std::memory_order_relaxed);
        if (slot.reportedAtMs < 0) {
            slot.reportedAtMs = nowMs;
            slot.reportedFrames = frames;
        } else if (nowMs - slot.reportedAtMs >= kRateReportIntervalMs) {
            const std::int64_t elapsedMs = nowMs - slot.reportedAtMs;
            const auto counted = static_cast<std::int64_t>(frames - slot.reportedFrames);
            qCDebug(lcObsAudio) << "Deck" << deck << "frame rate:" << counted * 1000 / elapsedMs
                                << "fps"
                                << "(expected:" << kSampleRateHz << ","
                                << "frames:" << counted << "in" << elapsedMs << "ms)";
            slot.reportedAtMs = nowMs;
            slot.reportedFrames = frames;
        }

        const std::uint64_t buffers = slot.buffers.load(std::memory_order_relaxed);
        if (!verbose || buffers == slot.levelsLoggedAtBuffer) continue;
        slot.levelsLoggedAtBuffer = buffers;
        const double peak = slot.lastPeak.load(std::memory_order_relaxed);
        const double rms = slot.lastRms.load(std::memory_order_relaxed);
        if (!lcObsAudio().isDebugEnabled()) continue;
        QDebug line = QMessageLogger(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, QT_MESSAGELOG_FUNC)
                          .debug(lcObsAudio());
        line << "Deck" << deck << "audio";
        if (slot.lastMuted.load(std::memory_order_relaxed)) line << "(muted)";
        line << "peak" << peak << "(" << toLogDb(peak) << "dB)"
             << "rms" << rms << "(" << toLogDb(rms) << "dB)";
    }
}
