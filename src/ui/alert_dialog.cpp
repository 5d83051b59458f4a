#include "ui/alert_dialog.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/dark_title_bar.h"

namespace {

constexpr int kWidth = 448;
constexpr int kIconBoxPx = 48;
constexpr int kIconPx = 24;

struct VariantLook {
    QString name;
    QString iconPath;
};

VariantLook lookOf(AlertDialog::Variant variant) {
    switch (variant) {
        case AlertDialog::Variant::Error:
            return {QStringLiteral("error"), QStringLiteral(":/icons/alert_error.svg")};
        case AlertDialog::Variant::Warning:
            return {QStringLiteral("warning"), QStringLiteral(":/icons/alert_warning.svg")};
        case AlertDialog::Variant::Success:
            return {QStringLiteral("success"), QStringLiteral(":/icons/alert_success.svg")};
        default:
            return {QStringLiteral("info"), QStringLiteral(":/icons/alert_info.svg")};
    }
}

QWidget* makeSection(const QString& objectName, QWidget* parent) {
    auto* section = new QWidget(parent);
    section->setObjectName(objectName);
    return section;
}

QLabel* makeText(const QString& text, const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

// A parent deleted while the dialog runs takes the dialog with it; only what is left is deleted.
int runAndDelete(AlertDialog* dialog) {
    const QPointer<AlertDialog> guard(dialog);
    const int code = dialog->exec();
    delete guard.data();
    return code;
}

}  // namespace

AlertDialog::AlertDialog(QWidget* parent, Variant variant, const QString& title,
                         const QString& message, const QString& confirmText,
                         const QString& cancelText)
    : QDialog(parent) {
    const VariantLook look = lookOf(variant);
    setObjectName(QStringLiteral("alertDialog"));
    setProperty("variant", look.name);
    setWindowTitle(title);
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    QWidget* header = makeSection(QStringLiteral("alertHeader"), this);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(24, 24, 24, 16);
    headerRow->setSpacing(16);
    auto* icon = new QLabel(header);
    icon->setObjectName(QStringLiteral("alertIcon"));
    icon->setFixedSize(kIconBoxPx, kIconBoxPx);
    icon->setAlignment(Qt::AlignCenter);
    icon->setAccessibleName(look.name);
    // Drawn from the SVG at the screen's pixel density, so it stays crisp on high-DPI screens.
    icon->setPixmap(QIcon(look.iconPath).pixmap(QSize(kIconPx, kIconPx), devicePixelRatioF()));
    headerRow->addWidget(icon, 0, Qt::AlignTop);
    headerRow->addWidget(makeText(title, QStringLiteral("alertTitle"), header), 1,
                         Qt::AlignVCenter);
    layout->addWidget(header);

    QWidget* content = makeSection(QStringLiteral("alertContent"), this);
    auto* contentColumn = new QVBoxLayout(content);
    contentColumn->setContentsMargins(24, 16, 24, 16);
    QLabel* messageLabel = makeText(message, QStringLiteral("alertMessage"), content);
    messageLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    contentColumn->addWidget(messageLabel);
    layout->addWidget(content);

    QWidget* footer = makeSection(QStringLiteral("alertFooter"), this);
    m_footer = new QHBoxLayout(footer);
    m_footer->setContentsMargins(24, 0, 24, 24);
    m_footer->setSpacing(12);
    m_footer->addStretch();
    if (!cancelText.isEmpty()) {
        connect(addFooterButton(cancelText, QStringLiteral("alertCancelButton")),
                &QPushButton::clicked, this, &QDialog::reject);
    }
    m_okButton = addFooterButton(confirmText, QStringLiteral("alertOkButton"));
    m_okButton->setDefault(true);
    m_okButton->setFocus();
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(footer);

    // The style sheet sets the fonts and paddings the height depends on.
    ensurePolished();
    setFixedWidth(kWidth);
    setFixedHeight(layout->hasHeightForWidth() ? layout->totalHeightForWidth(kWidth)
                                               : layout->totalSizeHint().height());
    placeOnScreen();
}

QPushButton* AlertDialog::addFooterButton(const QString& text, const QString& objectName) {
    auto* button = new QPushButton(text, m_footer->parentWidget());
    button->setObjectName(objectName);
    button->setCursor(Qt::PointingHandCursor);
    if (m_okButton) {
        m_footer->insertWidget(m_footer->indexOf(m_okButton), button);
        setTabOrder(button, m_okButton);
    } else {
        m_footer->addWidget(button);
    }
    return button;
}

void AlertDialog::placeOnScreen() {
    const QWidget* over = parentWidget() ? parentWidget()->window() : nullptr;
    QPoint centre;
    if (over && over->isVisible() && !over->isMinimized()) {
        centre = over->frameGeometry().center();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        centre = screen->availableGeometry().center();
    } else {
        return;
    }
    move(centre - rect().center());
}

void AlertDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    applyDarkTitleBar(this);
}

void AlertDialog::showNotice(QWidget* parent, Variant variant, const QString& title,
                             const QString& message) {
    runAndDelete(new AlertDialog(parent, variant, title, message, QStringLiteral("OK"), {}));
}

void AlertDialog::showError(QWidget* parent, const QString& title, const QString& message) {
    showNotice(parent, Variant::Error, title, message);
}

void AlertDialog::showInfo(QWidget* parent, const QString& title, const QString& message) {
    showNotice(parent, Variant::Info, title, message);
}

void AlertDialog::showWarning(QWidget* parent, const QString& title, const QString& message) {
    showNotice(parent, Variant::Warning, title, message);
}

void AlertDialog::showSuccess(QWidget* parent, const QString& title, const QString& message) {
    showNotice(parent, Variant::Success, title, message);
}

bool AlertDialog::confirm(QWidget* parent, const QString& title, const QString& message,
                          const QString& confirmText, const QString& cancelText) {
    return runAndDelete(new AlertDialog(parent, Variant::Warning, title, message, confirmText,
                                        cancelText)) == QDialog::Accepted;
}

bool AlertDialog::offerAction(QWidget* parent, Variant variant, const QString& title,
                              const QString& message, const QString& actionText) {
    auto* dialog = new AlertDialog(parent, variant, title, message, QStringLiteral("OK"), {});
    bool chosen = false;
    QPushButton* action = dialog->addFooterButton(actionText, QStringLiteral("alertCancelButton"));
    connect(action, &QPushButton::clicked, dialog, [dialog, &chosen] {
        chosen = true;
        dialog->accept();
    });
    runAndDelete(dialog);
    return chosen;
}

int AlertDialog::askCloseAction(QWidget* parent, const QString& title, const QString& message) {
    auto* dialog = new AlertDialog(parent, Variant::Warning, title, message, QStringLiteral("Exit"),
                                   QStringLiteral("Cancel"));
    int result = kCancel;
    QPushButton* minimize = dialog->addFooterButton(QStringLiteral("Minimize to Tray"),
                                                    QStringLiteral("alertCancelButton"));
    connect(minimize, &QPushButton::clicked, dialog, [dialog, &result] {
        result = kMinimizeToTray;
        dialog->accept();
    });
    connect(dialog->m_okButton, &QPushButton::clicked, dialog, [&result] { result = kExit; });
    runAndDelete(dialog);
    return result;
}
