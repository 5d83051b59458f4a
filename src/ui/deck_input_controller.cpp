#include "ui/deck_input_controller.h"

#include <algorithm>

#include <QAbstractButton>
#include <QComboBox>
#include <QStyle>
#include <QTimer>
#include <QWidget>

#include "audio/audio_levels.h"
#include "audio/obs_audio_manager.h"
#include "broadcast/broadcaster.h"
#include "core/log_categories.h"
#include "ui/alert_dialog.h"
#include "ui/app_picker_dialog.h"

namespace {

const char kProgramItemText[] = "Capture from program...";

bool isIntItem(const QVariant& data) { return data.typeId() == QMetaType::Int; }

}  // namespace

DeckInputController::DeckInputController(const Controls& controls, QObject* parent)
    : QObject(parent), m_controls(controls) {
    m_picker = [this](const QList<CaptureProgram>& programs) {
        QWidget* owner = combo(1) ? combo(1)->window() : nullptr;
        return AppPickerDialog::pick(programs, owner);
    };
    m_alert = [this](AlertKind kind, const QString& title, const QString& message) {
        QWidget* owner = combo(1) ? combo(1)->window() : nullptr;
        if (kind == AlertKind::Error) {
            AlertDialog::showError(owner, title, message);
        } else {
            AlertDialog::showInfo(owner, title, message);
        }
    };
    for (int deck = 1; deck <= 2; ++deck) {
        if (combo(deck)) remember(deck);
    }
}

void DeckInputController::setProgramPicker(ProgramPicker picker) { m_picker = std::move(picker); }

void DeckInputController::setAlertPresenter(AlertPresenter presenter) {
    m_alert = std::move(presenter);
}

void DeckInputController::attachRefreshButton(QAbstractButton* button) {
    connect(button, &QAbstractButton::clicked, this, &DeckInputController::refreshInputDevices);
}

bool DeckInputController::validDeck(int deck) const {
    if ((deck == 1 || deck == 2) && combo(deck) && m_controls.broadcaster) return true;
    qCWarning(lcUi) << "No input controls for deck" << deck;
    return false;
}

int DeckInputController::programItemIndex(const QComboBox* combo) {
    for (int i = combo->count() - 1; i >= 0; --i) {
        const QVariant data = combo->itemData(i);
        if (isIntItem(data) &&
            (data.toInt() == kProgramItem || data.toInt() == kCapturedProgramItem))
            return i;
    }
    return -1;
}

bool DeckInputController::monitorIsOn() const {
    return m_controls.broadcaster && m_controls.monitorToggle &&
           !m_controls.monitorToggle->isChecked();
}

void DeckInputController::disableMonitorForRetoggle() {
    ++m_monitorGeneration;
    m_controls.broadcaster->disableMonitorOutput();
}

bool DeckInputController::takeMonitorDown(const QString& note) {
    if (!monitorIsOn()) return false;
    qCInfo(lcUi).noquote() << note;
    disableMonitorForRetoggle();
    return true;
}

void DeckInputController::queueApplyMonitorState() {
    QTimer::singleShot(0, this, &DeckInputController::applyMonitorState);
}

void DeckInputController::queueAlert(AlertKind kind, const QString& title, const QString& message) {
    // A modal dialog opened here would run a nested event loop in the middle of the change.
    QMetaObject::invokeMethod(
        this, [this, kind, title, message] { m_alert(kind, title, message); },
        Qt::QueuedConnection);
}

bool DeckInputController::deckMuted(int deck) const {
    return m_controls.deckMuted && m_controls.deckMuted(deck);
}

float DeckInputController::deckGain(int deck) const {
    if (deckMuted(deck)) return 0.0f;
    const int tenths = m_controls.deckVolumeTenthsDb ? m_controls.deckVolumeTenthsDb(deck) : 0;
    return dbToLinear(float(tenths) / 10.0f);
}

void DeckInputController::setDeckActive(int deck, bool active) {
    if (deck == 1) {
        m_controls.broadcaster->setDeck1Active(active);
    } else {
        m_controls.broadcaster->setDeck2Active(active);
    }
}

void DeckInputController::setDeckVolume(int deck, float gain) {
    if (deck == 1) {
        m_controls.broadcaster->setDeck1Volume(gain);
    } else {
        m_controls.broadcaster->setDeck2Volume(gain);
    }
}

void DeckInputController::setCardActive(int deck, bool active) {
    QWidget* card = m_controls.deckCards[deck - 1];
    if (!card) return;
    card->setProperty("active", active);
    card->style()->unpolish(card);
    card->style()->polish(card);
}

void DeckInputController::resetProgramItem(int deck) {
    QComboBox* box = combo(deck);
    const int program = programItemIndex(box);
    if (program < 0) return;
    box->setItemText(program, QLatin1String(kProgramItemText));
    box->setItemData(program, kProgramItem);
}

void DeckInputController::remember(int deck) {
    const QComboBox* box = combo(deck);
    Selection& live = m_live[deck - 1];
    live.index = std::max(box->currentIndex(), 0);
    const int program = programItemIndex(box);
    live.programText = program >= 0 ? box->itemText(program) : QString();
    live.programData = program >= 0 ? box->itemData(program) : QVariant();
}

void DeckInputController::restoreSelection(int deck) {
    QComboBox* box = combo(deck);
    const Selection& live = m_live[deck - 1];
    const int program = programItemIndex(box);
    if (program >= 0 && live.programData.isValid()) {
        box->setItemText(program, live.programText);
        box->setItemData(program, live.programData);
    } else {
        resetProgramItem(deck);
    }
    box->setCurrentIndex(live.index < box->count() ? live.index : 0);
}

void DeckInputController::onDeckInputChanged(int deck, int index) {
    if (!validDeck(deck)) return;
    Doredoradar* broadcaster = m_controls.broadcaster;
    OBSAudioManager* capture = broadcaster->audioManager();
    QComboBox* box = combo(deck);
    const bool monitorWasOn = takeMonitorDown(
        QStringLiteral("Deck %1 input changed: disabling monitor for retoggle").arg(deck));

    if (index == 0) {
        ++m_changeGeneration[deck - 1];
        capture->stopDeck(deck);
        capture->setDeckInput(deck, -1);
        setDeckActive(deck, false);
        setCardActive(deck, false);
        resetProgramItem(deck);
        remember(deck);
        if (monitorWasOn) queueApplyMonitorState();
        return;
    }

    const QVariant data = box->itemData(index);
    if (isIntItem(data)) {
        const int value = data.toInt();
        if (value == kProgramItem || value == kCapturedProgramItem) {
            showAppPickerDialog(deck);
            return;
        }
        qCWarning(lcUi).noquote()
            << QStringLiteral("Unexpected int value for Deck %1 selection:").arg(deck) << value;
        // Nothing changed: the combo shows what still plays.
        restoreSelection(deck);
        if (monitorWasOn) applyMonitorState();
        return;
    }

    const QString deviceId = data.toString();
    if (deviceId.isEmpty()) {
        qCWarning(lcUi).noquote() << QStringLiteral("Invalid deviceId for Deck %1:").arg(deck)
                                  << deviceId;
        restoreSelection(deck);
        if (monitorWasOn) queueApplyMonitorState();
        return;
    }

    ++m_changeGeneration[deck - 1];
    resetProgramItem(deck);
    if (!capture->setDeckInputDevice(deck, deviceId)) {
        qCWarning(lcUi).noquote() << QStringLiteral("Failed to set Deck %1 input device:").arg(deck)
                                  << deviceId;
        setDeckActive(deck, false);
        setCardActive(deck, false);
        remember(deck);
        if (monitorWasOn) applyMonitorState();
        return;
    }
    setDeckActive(deck, true);
    broadcaster->ensureMixerRunning();
    setDeckVolume(deck, deckGain(deck));
    setCardActive(deck, !deckMuted(deck));
    remember(deck);
    startDeckLater(deck, kDeviceStartDelayMs, monitorWasOn,
                   QStringLiteral("Deck %1 started: re-enabling monitor").arg(deck), 0);
}

void DeckInputController::startDeckLater(int deck, int delayMs, bool monitorWasOn,
                                         const QString& monitorNote, int monitorDelayMs) {
    const quint64 generation = m_changeGeneration[deck - 1];
    QTimer::singleShot(delayMs, this, [=] {
        if (m_changeGeneration[deck - 1] != generation) return;
        m_controls.broadcaster->audioManager()->startDeck(deck);
        if (!monitorWasOn) return;
        qCInfo(lcUi).noquote() << monitorNote;
        QTimer::singleShot(monitorDelayMs, this, &DeckInputController::applyMonitorState);
    });
}

void DeckInputController::showAppPickerDialog(int deck) {
    if (!validDeck(deck)) return;
    Doredoradar* broadcaster = m_controls.broadcaster;
    OBSAudioManager* capture = broadcaster->audioManager();
    QComboBox* box = combo(deck);
    const bool monitorWasOn =
        takeMonitorDown(QStringLiteral("App capture dialog: disabling monitor for retoggle"));

    const QList<CaptureProgram> programs = capture->getRunningApplications();
    if (programs.isEmpty()) {
        queueAlert(AlertKind::Info, QStringLiteral("No Applications"),
                   QStringLiteral("No applications with audio are currently running.\n\n"
                                  "Start playing audio in an application first, then try again."));
        restoreSelection(deck);
        if (monitorWasOn) queueApplyMonitorState();
        return;
    }

    const std::optional<CaptureProgram> chosen = m_picker(programs);
    if (!chosen) {
        // The deck keeps its input, and the combo says so.
        restoreSelection(deck);
        if (monitorWasOn) queueApplyMonitorState();
        return;
    }

    ++m_changeGeneration[deck - 1];
    if (!capture->setDeckAppCapture(deck, chosen->window)) {
        // The failed attempt released the previous input: the deck has none now.
        queueAlert(AlertKind::Error, QStringLiteral("Capture Failed"),
                   QStringLiteral("Failed to capture audio from %1.\n\n"
                                  "Make sure the application is playing audio.")
                       .arg(chosen->name));
        setDeckActive(deck, false);
        setCardActive(deck, false);
        resetProgramItem(deck);
        box->setCurrentIndex(0);
        remember(deck);
        if (monitorWasOn) queueApplyMonitorState();
        return;
    }
    setDeckActive(deck, true);
    setCardActive(deck, !deckMuted(deck));
    broadcaster->ensureMixerRunning();
    const int program = programItemIndex(box);
    if (program >= 0) {
        box->setItemText(program, chosen->name);
        box->setItemData(program, kCapturedProgramItem);
        box->setCurrentIndex(program);
    }
    remember(deck);
    qCInfo(lcUi).noquote() << "Deck" << deck << "now capturing from:" << chosen->name;
    startDeckLater(deck, kProgramStartDelayMs, monitorWasOn,
                   QStringLiteral("App capture: re-applying monitor state after deck start"),
                   kMonitorAfterProgramStartMs);
}

void DeckInputController::refreshInputDevices() {
    if (!m_controls.broadcaster) return;
    OBSAudioManager* capture = m_controls.broadcaster->audioManager();
    const QStringList names = capture->getInputDeviceNames();
    const QStringList ids = capture->getInputDeviceIds();
    for (int deck = 1; deck <= 2; ++deck) {
        QComboBox* box = combo(deck);
        if (!box) continue;
        const QVariant previous = box->currentData();
        const int previousProgram = programItemIndex(box);
        const QString programText =
            previousProgram >= 0 ? box->itemText(previousProgram) : QString();
        const QVariant programData =
            previousProgram >= 0 ? box->itemData(previousProgram) : QVariant();

        box->clear();
        box->addItem(QStringLiteral("None"), kNoneItem);
        for (int i = 0; i < names.size() && i < ids.size(); ++i) box->addItem(names[i], ids[i]);
        box->insertSeparator(box->count());
        box->addItem(QLatin1String(kProgramItemText), kProgramItem);

        int selected = 0;
        if (isIntItem(previous) &&
            (previous.toInt() == kProgramItem || previous.toInt() == kCapturedProgramItem)) {
            selected = box->count() - 1;
            // A program still being captured keeps its name on the item.
            const QString input = capture->deckInputId(deck);
            if (programData.toInt() == kCapturedProgramItem && !input.isEmpty() &&
                !ids.contains(input)) {
                box->setItemText(selected, programText);
                box->setItemData(selected, kCapturedProgramItem);
            }
        } else if (!isIntItem(previous) && !previous.toString().isEmpty()) {
            selected = std::max(box->findData(previous.toString()), 0);
        }
        box->setCurrentIndex(selected);
        remember(deck);
    }
    qCInfo(lcUi) << "Input devices refreshed. Found" << names.size() << "devices.";
}

void DeckInputController::refreshMonitorDevices() {
    QComboBox* box = m_controls.monitorOutput;
    if (!m_controls.broadcaster || !box) return;
    const QStringList devices = m_controls.broadcaster->getMonitorDevices();
    const QString previous = box->currentText();
    const bool hadItems = box->count() > 0;
    {
        // Refilling alone must not rebuild the monitor.
        const QSignalBlocker blocker(box);
        box->clear();
        box->addItem(QStringLiteral("None"), kNoMonitorDevice);
        for (int i = 0; i < devices.size(); ++i) box->addItem(devices[i], i);
        // The first time, the first device (the system's default output): a host hears the
        // mix without having to look for where.
        const int first = devices.isEmpty() ? 0 : 1;
        box->setCurrentIndex(hadItems ? std::max(box->findText(previous), 0) : first);
    }
    qCInfo(lcUi) << "Monitor output devices refreshed. Found" << devices.size() << "devices.";
    if (hadItems && box->currentText() != previous) onMonitorOutputChanged(box->currentIndex());
}

void DeckInputController::applyMonitorState() {
    Doredoradar* broadcaster = m_controls.broadcaster;
    QComboBox* output = m_controls.monitorOutput;
    if (!broadcaster || !output || !m_controls.monitorToggle) return;
    const quint64 generation = ++m_monitorGeneration;
    const bool muted = m_controls.monitorToggle->isChecked();
    bool converted = true;
    const int device = output->currentIndex() >= 0 ? output->currentData().toInt(&converted) : -1;
    if (muted || !converted || device < 0) {
        broadcaster->setMonitorEnabled(false);
        return;
    }
    const QString name = output->currentText();
    qCInfo(lcUi).noquote() << "Monitor output selected:" << name << "(index:" << device << ")";
    if (broadcaster->isBroadcasting()) {
        broadcaster->setMonitorDevice(name);
        broadcaster->setMonitorEnabled(false);
        QTimer::singleShot(kMonitorReenableDelayMs, this, [this, generation] {
            // A mute, another device or another input change meanwhile has the last word.
            if (generation != m_monitorGeneration || !monitorIsOn()) return;
            m_controls.broadcaster->setMonitorEnabled(true);
            syncDeckVolumesToMixer();
            qCInfo(lcUi) << "Monitor re-enabled after source change while broadcasting";
        });
        return;
    }
    broadcaster->ensureMixerRunning();
    broadcaster->setMonitorDevice(name);
    broadcaster->forceMonitorRestart();
    broadcaster->setMonitorEnabled(true);
    syncDeckVolumesToMixer();
}

void DeckInputController::onMonitorOutputChanged(int index) {
    Q_UNUSED(index);
    if (monitorIsOn()) {
        disableMonitorForRetoggle();
        queueApplyMonitorState();
    } else {
        applyMonitorState();
    }
}

void DeckInputController::syncDeckVolumesToMixer() {
    if (!m_controls.broadcaster) return;
    for (int deck = 1; deck <= 2; ++deck) {
        const float gain = deckGain(deck);
        if (deckMuted(deck)) {
            qCInfo(lcUi).noquote()
                << QStringLiteral("syncDeckVolumesToMixer: Deck%1 muted, set to 0").arg(deck);
        } else {
            const int tenths =
                m_controls.deckVolumeTenthsDb ? m_controls.deckVolumeTenthsDb(deck) : 0;
            qCInfo(lcUi).noquote()
                << QStringLiteral("syncDeckVolumesToMixer: Deck%1 volume synced:").arg(deck)
                << float(tenths) / 10.0f << "dB (" << gain << "linear)";
        }
        setDeckVolume(deck, gain);
    }
}
