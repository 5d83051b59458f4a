// Deck inputs, running decks, and the capture path that hands their audio on.
#include "audio/obs_audio_manager.h"

#include <obs.h>

#include <algorithm>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QMetaObject>
#include <QPointer>

#include "audio/capture_devices.h"
#include "audio/obs_handles.h"
#include "audio/obs_property_list.h"
#include "audio/obs_runtime.h"
#include "core/log_categories.h"
#include "core/logger.h"
#include "platform/audio_threads.h"
#include "platform/obs_capture.h"

namespace {

constexpr char kBufferSizeSetting[] = "buffer_size";
constexpr int kInputBufferMs = 200;
constexpr char kAppInputPrefix[] = "app:";
// How long a reopen waits for libobs to let go of the sources it replaces.
constexpr qint64 kReleaseWaitMs = 500;
constexpr unsigned long kAudioTickWaitMs = 50;
constexpr int kLevelLogIntervalMs = 1000;

std::atomic<bool> g_firstAudioCallbackLogged{false};
std::atomic<int> g_appSourceCounter{0};

// How a deck's input reads in the log.
QString describeInput(const QString& inputId) {
    if (inputId.startsWith(QLatin1String(kAppInputPrefix))) {
        const auto prefixLength = QLatin1String(kAppInputPrefix).size();
        return QStringLiteral("program \"%1\"").arg(inputId.mid(prefixLength));
    }
    return QStringLiteral("input device \"%1\"").arg(inputId);
}

obshandle::Source createInputDeviceSource(const QString& deviceId) {
    const platform::ObsCaptureTypes& types = platform::obsCaptureTypes();
    const char* type = captureDeviceSourceType(deviceId);
    obshandle::Data settings(obs_data_create());
    obs_data_set_string(settings.get(), kObsDeviceIdSetting, deviceId.toUtf8().constData());
    obs_data_set_int(settings.get(), kBufferSizeSetting, kInputBufferMs);
    obshandle::Source source(obs_source_create(type, "Audio Input", settings.get(), nullptr));
    if (!source) {
        qCWarning(lcObsAudio) << "Failed to create input source with type:" << type
                              << "device:" << deviceId;
        return nullptr;
    }
    qCDebug(lcObsAudio) << "Created input device source (" << type << "):" << deviceId;
    if (types.inputTakesBufferSize) {
        qCDebug(lcObsAudio).noquote()
            << types.apiName << "buffer configured:" << kInputBufferMs << "ms";
    }
    return source;
}

obshandle::Source createAppAudioSource(const QString& window) {
    obshandle::Data settings(obs_data_create());
    obs_data_set_string(settings.get(), kObsWindowSetting, window.toUtf8().constData());
    const QString name = QStringLiteral("App Audio %1").arg(++g_appSourceCounter);
    obshandle::Source source(obs_source_create(platform::obsCaptureTypes().programType,
                                               name.toUtf8().constData(), settings.get(), nullptr));
    if (!source) {
        qCWarning(lcObsAudio) << "Failed to create app audio source for:" << window;
        return nullptr;
    }
    return source;
}

}  // namespace

OBSAudioManager::OBSAudioManager(QObject* parent) : QObject(parent) {
    m_diagnosticsTimer.setInterval(kLevelLogIntervalMs);
    connect(&m_diagnosticsTimer, &QTimer::timeout, this, &OBSAudioManager::onDiagnosticsTimer);
    m_diagnosticsClock.start();
}

OBSAudioManager::~OBSAudioManager() { shutdown(); }

CaptureDeck* OBSAudioManager::deckFor(int deck) {
    return deck >= 1 && deck <= kDeckCount ? &m_decks[static_cast<std::size_t>(deck - 1)] : nullptr;
}

const CaptureDeck* OBSAudioManager::deckFor(int deck) const {
    return deck >= 1 && deck <= kDeckCount ? &m_decks[static_cast<std::size_t>(deck - 1)] : nullptr;
}

bool OBSAudioManager::initialize() {
    if (m_runtime) {
        qCDebug(lcObsAudio) << "OBSAudioManager already initialized";
        return true;
    }
    ObsRuntime::Failure failure = ObsRuntime::Failure::None;
    m_runtime = ObsRuntime::acquire(&failure);
    if (!m_runtime) {
        Q_EMIT errorOccurred(failure == ObsRuntime::Failure::Modules
                                 ? QStringLiteral("Failed to load OBS modules")
                                 : QStringLiteral("Failed to initialize libobs"));
        return false;
    }
    m_pluginPath = m_runtime->pluginPath();
    // Heard on the display watch's thread; the manager is looked up again on the main thread.
    ObsRuntime::setDisplayLostListener([manager = QPointer<OBSAudioManager>(this)] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [manager] {
                if (!manager) return;
                qCWarning(lcObsAudio) << "The X display went away: deck capture has ended";
                Q_EMIT manager->captureDisplayLost();
            },
            Qt::QueuedConnection);
    });
    return true;
}

void OBSAudioManager::shutdown() {
    if (!m_runtime) return;
    ObsRuntime::setDisplayLostListener(nullptr);
    for (CaptureDeck& deck : m_decks) stopDeck(deck.number());
    for (CaptureDeck& deck : m_decks) releaseDeckSource(deck);
    m_runtime.reset();
}

// --- deck inputs ---------------------------------------------------------------------------

void OBSAudioManager::releaseDeckSource(CaptureDeck& deck) {
    if (!deck.hasSource()) {
        deck.releaseSource();  // no reference to give back: only the input is forgotten
        return;
    }
    if (ObsRuntime::displayLost()) {
        // Releasing would wait for libobs's hotkey lock, which is now held for good.
        deck.abandonSource();
        return;
    }
    const QString input = deck.inputId();
    {
        const ObsHotkeyParking::Pause unparked(m_runtime->hotkeyParking());  // hotkeys go with it
        deck.releaseSource();
    }
    qCInfo(lcObsAudio).noquote() << "Deck" << deck.number() << "no longer captures"
                                 << describeInput(input);
}

template <typename Create>
bool OBSAudioManager::replaceDeckSource(int deck, const QString& inputId, const Create& create,
                                        const char* failure) {
    CaptureDeck* target = deckFor(deck);
    if (!target) {
        qCWarning(lcObsAudio) << "Invalid deck number:" << deck;
        return false;
    }
    stopDeck(deck);
    releaseDeckSource(*target);
    obshandle::Source source;
    if (m_runtime && !ObsRuntime::displayLost()) {
        const ObsHotkeyParking::Pause unparked(m_runtime->hotkeyParking());  // hotkeys register
        source = create();
    }
    if (!source) {
        qCWarning(lcObsAudio) << failure << deck;
        return false;
    }
    target->adoptSource(source.release(), inputId);
    qCInfo(lcObsAudio).noquote() << "Deck" << deck << "captures" << describeInput(inputId);
    return true;
}

bool OBSAudioManager::setDeckInputDevice(int deck, const QString& deviceId) {
    return replaceDeckSource(
        deck, deviceId, [&] { return createInputDeviceSource(deviceId); },
        "Failed to create input source for deck");
}

bool OBSAudioManager::setDeckInput(int deck, int index) {
    CaptureDeck* target = deckFor(deck);
    if (!target) return false;
    if (index < 0) {
        stopDeck(deck);
        releaseDeckSource(*target);
        target->resetLevels();
        return true;
    }
    const QStringList ids = getInputDeviceIds();
    if (index >= ids.size()) return false;
    return setDeckInputDevice(deck, ids.at(index));
}

bool OBSAudioManager::setDeckAppCapture(int deck, const QString& window) {
    return replaceDeckSource(
        deck, QLatin1String(kAppInputPrefix) + window, [&] { return createAppAudioSource(window); },
        "Failed to create app audio source for deck");
}

bool OBSAudioManager::reopenDecks(const QList<int>& decks) {
    if (!m_runtime || ObsRuntime::displayLost()) return false;
    struct Reopen {
        int deck;
        QString input;
        bool wasActive;
    };
    QList<Reopen> reopens;
    std::vector<obshandle::WeakSource> released;
    for (int deck : decks) {
        CaptureDeck* target = deckFor(deck);
        if (!target || target->inputId().isEmpty()) continue;
        reopens.append({deck, target->inputId(), target->isActive()});
        if (obs_source* source = target->source()) {
            released.emplace_back(obs_source_get_weak_source(source));
        }
        stopDeck(deck);
        releaseDeckSource(*target);
    }
    {
        // libobs's audio thread may hold a released source a moment longer, and destroys it
        // later on a thread of its own; that destruction unregisters its hotkeys, under the
        // lock the parking holds.
        const ObsHotkeyParking::Pause unparked(m_runtime->hotkeyParking());
        QElapsedTimer waited;
        waited.start();
        const auto allGone = [&released] {
            return std::all_of(released.begin(), released.end(),
                               [](const obshandle::WeakSource& weak) {
                                   return obs_weak_source_expired(weak.get());
                               });
        };
        while (!allGone() && waited.elapsed() < kReleaseWaitMs) QThread::msleep(5);
        // The thread that let go last runs the destruction right after: a tick of libobs's
        // audio thread, then whatever it queued.
        QThread::msleep(kAudioTickWaitMs);
        obs_wait_for_destroy_queue();
    }
    const QLatin1String appPrefix(kAppInputPrefix);
    bool allMade = reopens.size() == decks.size();
    for (const Reopen& reopen : reopens) {
        const bool made = reopen.input.startsWith(appPrefix)
                              ? setDeckAppCapture(reopen.deck, reopen.input.mid(appPrefix.size()))
                              : setDeckInputDevice(reopen.deck, reopen.input);
        allMade = made && (!reopen.wasActive || startDeck(reopen.deck)) && allMade;
    }
    return allMade;
}

QString OBSAudioManager::deckInputId(int deck) const {
    const CaptureDeck* target = deckFor(deck);
    return target ? target->inputId() : QString();
}

bool OBSAudioManager::hasDeckSource(int deck) const {
    const CaptureDeck* target = deckFor(deck);
    return target && target->hasSource();
}

// --- running a deck ------------------------------------------------------------------------

bool OBSAudioManager::startDeck(int deck) {
    CaptureDeck* target = deckFor(deck);
    if (!target) return false;
    if (target->isActive()) {
        qCDebug(lcObsAudio) << "Deck" << deck << "already active";
        return true;
    }
    if (!target->start(&OBSAudioManager::audioCallback, this)) return false;
    qCDebug(lcObsAudio) << "Started deck" << deck;
    updateDiagnosticsTimer();
    Q_EMIT deckStarted(deck);
    return true;
}

void OBSAudioManager::stopDeck(int deck) {
    CaptureDeck* target = deckFor(deck);
    if (!target || !target->stop()) return;
    qCDebug(lcObsAudio) << "Stopped deck" << deck;
    updateDiagnosticsTimer();
    Q_EMIT deckStopped(deck);
}

bool OBSAudioManager::isDeckActive(int deck) const {
    const CaptureDeck* target = deckFor(deck);
    return target && target->isActive();
}

// --- callback, levels, volume --------------------------------------------------------------

void OBSAudioManager::setDeckAudioCallback(DeckAudioCallback callback) {
    m_callback.set(std::move(callback));
}

void OBSAudioManager::clearDeckAudioCallback() { m_callback.clear(); }

DeckLevels OBSAudioManager::getDeckLevels(int deck) const {
    const CaptureDeck* target = deckFor(deck);
    return target ? target->levels() : DeckLevels{};
}

DeckCaptureStats OBSAudioManager::deckCaptureStats(int deck) const {
    const CaptureDeck* target = deckFor(deck);
    return target ? target->stats() : DeckCaptureStats{};
}

void OBSAudioManager::setDeckVolume(int deck, float linear) {
    if (CaptureDeck* target = deckFor(deck)) target->setVolume(linear);
}

float OBSAudioManager::getDeckVolume(int deck) const {
    const CaptureDeck* target = deckFor(deck);
    return target ? target->volume() : 1.0f;
}

// --- enumeration ---------------------------------------------------------------------------

bool OBSAudioManager::devicesListable() const {
    if (!m_runtime) qCWarning(lcObsAudio) << "Cannot enumerate audio devices - OBS not initialized";
    return m_runtime != nullptr;
}

QStringList OBSAudioManager::enumerateAudioDevices(const char* sourceType,
                                                   const char* property) const {
    QStringList values;
    if (!devicesListable()) return values;
    for (const auto& item : obsPropertyListItems(sourceType, property, true)) {
        if (!item.second.isEmpty()) values.append(item.second);
    }
    return values;
}

QStringList OBSAudioManager::getInputDeviceNames() const {
    QStringList names;
    if (!devicesListable()) return names;
    qCDebug(lcObsAudio).noquote() << "Using" << platform::obsCaptureTypes().apiName
                                  << "input capture";
    for (const CaptureDevice& device : listCaptureDevices()) names.append(device.name);
    return names;
}

QStringList OBSAudioManager::getInputDeviceIds() const {
    QStringList ids;
    if (!devicesListable()) return ids;
    for (const CaptureDevice& device : listCaptureDevices()) ids.append(device.id);
    return ids;
}

QList<OBSAudioManager::AppInfo> OBSAudioManager::getRunningApplications() const {
    return m_runtime ? listRunningPrograms() : QList<AppInfo>{};
}

QList<OBSAudioManager::AppInfo> OBSAudioManager::appInfosFromListItems(
    const QList<QPair<QString, QString>>& items) {
    return programsFromListItems(items);
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
    for (CaptureDeck& deck : self->m_decks) {
        if (deck.isCapturing(source)) {
            // libobs hands over its own mix format, set at start-up: planar float stereo.
            self->handleAudioData(deck.number(), reinterpret_cast<const float*>(data->data[0]),
                                  reinterpret_cast<const float*>(data->data[1]), data->frames,
                                  muted);
            return;
        }
    }
}

void OBSAudioManager::handleAudioData(int deck, const float* left, const float* right,
                                      std::uint32_t frames, bool muted) {
    CaptureDeck* target = deckFor(deck);
    if (!target || frames == 0) return;
    const float* interleaved =
        target->take(left, right, frames, muted, m_verboseCapture.load(std::memory_order_relaxed));
    if (!interleaved) return;
    target->countDelivery(m_callback.forward(deck, interleaved, static_cast<int>(frames)));
}

void OBSAudioManager::updateDiagnosticsTimer() {
    bool anyActive = false;
    for (const CaptureDeck& deck : m_decks) anyActive = anyActive || deck.isActive();
    if (anyActive && !m_diagnosticsTimer.isActive()) {
        for (CaptureDeck& deck : m_decks) deck.restartDiagnostics();
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
    for (CaptureDeck& deck : m_decks) {
        if (deck.isActive()) deck.reportDiagnostics(nowMs, verbose);
    }
}
