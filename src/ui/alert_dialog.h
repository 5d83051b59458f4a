#pragma once

// The application's own modal message box: errors, notices, confirmations, the close question.

#include <QDialog>
#include <QString>

class QHBoxLayout;
class QPushButton;

// Callers use the static functions; each builds the dialog, runs it modally (blocking the caller
// in a nested event loop until it closes) and destroys it. Main thread only. The look comes from
// the style sheet through the object names and the "variant" property.
class AlertDialog : public QDialog {
    Q_OBJECT

public:
    // Any other value looks like Info.
    enum class Variant { Error = 0, Info = 1, Warning = 2, Success = 3 };

    // What askCloseAction returns.
    static constexpr int kExit = 0;
    static constexpr int kMinimizeToTray = 1;
    static constexpr int kCancel = 2;

    // An empty cancel text leaves the confirm button alone. Title and message are shown as
    // written (plain text), since they often carry what a server or the system said.
    AlertDialog(QWidget* parent, Variant variant, const QString& title, const QString& message,
                const QString& confirmText, const QString& cancelText);

    static void showError(QWidget* parent, const QString& title, const QString& message);
    static void showInfo(QWidget* parent, const QString& title, const QString& message);
    static void showWarning(QWidget* parent, const QString& title, const QString& message);
    static void showSuccess(QWidget* parent, const QString& title, const QString& message);
    // True only when the confirm button closed it; Escape or the close button say false.
    static bool confirm(QWidget* parent, const QString& title, const QString& message,
                        const QString& confirmText, const QString& cancelText);
    // A notice with one more button before OK (e.g. "Check connection"); true only when that
    // button closed it.
    static bool offerAction(QWidget* parent, Variant variant, const QString& title,
                            const QString& message, const QString& actionText);
    // kExit, kMinimizeToTray, or kCancel for "Cancel" and any other way of closing.
    static int askCloseAction(QWidget* parent, const QString& title, const QString& message);

protected:
    void showEvent(QShowEvent* event) override;

private:
    static void showNotice(QWidget* parent, Variant variant, const QString& title,
                           const QString& message);
    // Placed after the other footer buttons, before the confirm button.
    QPushButton* addFooterButton(const QString& text, const QString& objectName);
    // Centred on the parent's window while it is on screen, else on the primary screen.
    void placeOnScreen();

    QHBoxLayout* m_footer = nullptr;
    QPushButton* m_okButton = nullptr;
};
