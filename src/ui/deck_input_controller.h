#pragma once

// The deck inputs (a device or one program per deck), the local monitor state that follows them
// and the program picker, behind the main window's deck cards and monitor section.

#include <array>
#include <functional>
#include <optional>

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include "audio/program_catalogue.h"

class Doredoradar;
class QAbstractButton;
class QComboBox;
class QWidget;

// Turns the deck input combos, the monitor output combo and the monitor toggle into calls on the
// capture manager and the broadcast controller. The widgets belong to the window; this only
// reads and refills them. A deck combo's selection changes only through this class (its item
// choice reaches onDeckInputChanged from the combo's `activated`): it remembers each deck's live
// selection so that a choice that does not take effect gives it back.
//
// Main thread only. Nothing blocks except the program list (the sound server answers within
// about 2 s) and the picker and alerts, which run modal dialogs (alerts always from a queued
// call, never inside the caller).
class DeckInputController : public QObject {
    Q_OBJECT

public:
    // Deck combo item data besides device ids (strings).
    static constexpr int kNoneItem = -1;
    static constexpr int kProgramItem = -2;
    static constexpr int kCapturedProgramItem = -3;
    // A monitor combo's "None".
    static constexpr int kNoMonitorDevice = -1;

    // A device deck starts this long after its input changed (a newer change cancels it).
    static constexpr int kDeviceStartDelayMs = 250;
    static constexpr int kProgramStartDelayMs = 150;
    // After a program deck started, the monitor is rebuilt this much later.
    static constexpr int kMonitorAfterProgramStartMs = 100;
    // While broadcasting the monitor goes off and comes back this much later on its new source.
    static constexpr int kMonitorReenableDelayMs = 50;

    enum class AlertKind { Info, Error };

    // Shows the programs and returns the chosen one, or nothing when cancelled. Runs modally.
    using ProgramPicker =
        std::function<std::optional<CaptureProgram>(const QList<CaptureProgram>& programs)>;
    using AlertPresenter =
        std::function<void(AlertKind kind, const QString& title, const QString& message)>;

    struct Controls {
        Doredoradar* broadcaster = nullptr;
        // Index 0 is deck 1.
        std::array<QComboBox*, 2> deckInputs{};
        // Carry the style sheet's dynamic property "active".
        std::array<QWidget*, 2> deckCards{};
        // Items: "None" (-1), then the devices (data: index >= 0).
        QComboBox* monitorOutput = nullptr;
        // Checkable; checked means the monitor is muted.
        QAbstractButton* monitorToggle = nullptr;
        std::function<bool(int deck)> deckMuted{};
        // The deck's fader in tenths of a dB.
        std::function<int(int deck)> deckVolumeTenthsDb{};
    };

    // The widgets and the broadcaster must outlive this object.
    explicit DeckInputController(const Controls& controls, QObject* parent = nullptr);

    // Replaces the modal AppPickerDialog (tests).
    void setProgramPicker(ProgramPicker picker);
    // Replaces AlertDialog (tests). Still called from a queued call.
    void setAlertPresenter(AlertPresenter presenter);
    // A deck card's refresh button: it refreshes both decks' device lists.
    void attachRefreshButton(QAbstractButton* button);

public Q_SLOTS:
    // The user chose item `index` of deck `deck`'s input combo (deck 1 or 2).
    void onDeckInputChanged(int deck, int index);
    // Refills both deck combos from the capture manager, keeping each one's selection; starts
    // and stops nothing.
    void refreshInputDevices();
    void refreshMonitorDevices();
    // Lets the user pick a program for `deck`. Blocks in the modal picker.
    void showAppPickerDialog(int deck);
    // Makes the monitor follow the toggle and the output combo.
    void applyMonitorState();
    void onMonitorOutputChanged(int index);
    // Each deck's gain (0 while muted, else its fader) to the mixer.
    void syncDeckVolumesToMixer();

private:
    // What a deck's combo showed when its input last took effect.
    struct Selection {
        int index = 0;
        QString programText;
        QVariant programData;
    };

    bool validDeck(int deck) const;
    QComboBox* combo(int deck) const { return m_controls.deckInputs[deck - 1]; }
    static int programItemIndex(const QComboBox* combo);
    // The window's monitor toggle is off (monitor audible) and there is a broadcaster.
    bool monitorIsOn() const;
    void disableMonitorForRetoggle();
    // An input is about to change: when the monitor is on, logs `note` and takes the monitor
    // down, to be rebuilt on the new input. Says whether it was on.
    bool takeMonitorDown(const QString& note);
    void queueApplyMonitorState();
    void queueAlert(AlertKind kind, const QString& title, const QString& message);

    bool deckMuted(int deck) const;
    float deckGain(int deck) const;
    void setDeckActive(int deck, bool active);
    void setDeckVolume(int deck, float gain);
    void setCardActive(int deck, bool active);
    // The program item back to "Capture from program...".
    void resetProgramItem(int deck);

    void remember(int deck);
    // Gives the combo back the selection remembered last (a choice that did not take effect).
    void restoreSelection(int deck);
    // Starts the deck `delayMs` from now unless a newer change of it came first; then, when the
    // monitor was on before the change, logs `monitorNote` and rebuilds the monitor
    // `monitorDelayMs` later.
    void startDeckLater(int deck, int delayMs, bool monitorWasOn, const QString& monitorNote,
                        int monitorDelayMs);

    Controls m_controls;
    ProgramPicker m_picker;
    AlertPresenter m_alert;
    std::array<Selection, 2> m_live;
    // Bumped by every input change that takes effect; a delayed start of an older one is void.
    std::array<quint64, 2> m_changeGeneration{0, 0};
    // Bumped whenever the monitor is switched; a delayed re-enable of an older switch is void.
    quint64 m_monitorGeneration = 0;
};
