// The list of other programs' windows from which the window-title metadata source is chosen.
#include "ui/window_picker_dialog.h"

#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kHandleRole = Qt::UserRole;
}

WindowPickerDialog::WindowPickerDialog(const QList<Entry>& entries, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("windowPickerDialog"));
    setWindowTitle(QStringLiteral("Select Window to Monitor"));
    setModal(true);
    setMinimumSize(450, 400);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(12);
    auto* label = new QLabel(QStringLiteral("Select a window to monitor for metadata:"), this);
    label->setStyleSheet(QStringLiteral("font-size: 13px; color: #374151;"));
    layout->addWidget(label);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("windowPickerList"));
    m_list->setAccessibleName(QStringLiteral("Application windows"));
    m_list->setStyleSheet(QStringLiteral(
        "QListWidget { background: #FFFFFF; border: 1px solid #E5E7EB; border-radius: 6px;   "
        "font-size: 13px; color: #111827; }QListWidget::item { padding: 6px 8px; }"
        "QListWidget::item:hover { background: #E9EBEF; }QListWidget::item:selected { "
        "background: #E5E7EB; }"));
    for (const Entry& entry : entries) {
        auto* item = new QListWidgetItem(entry.title, m_list);
        item->setData(kHandleRole, QVariant::fromValue<quintptr>(entry.handle));
    }
    label->setBuddy(m_list);
    layout->addWidget(m_list, 1);

    auto* buttons = new QDialogButtonBox(this);
    auto* select = new QPushButton(QStringLiteral("Select"), buttons);
    select->setObjectName(QStringLiteral("windowPickerSelectButton"));
    select->setDefault(true);
    buttons->addButton(select, QDialogButtonBox::AcceptRole);
    // The platform theme's stock icon does not belong to this look.
    buttons->addButton(QDialogButtonBox::Cancel)->setIcon(QIcon());
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

bool WindowPickerDialog::selection(Entry& entry) const {
    const QListWidgetItem* item = m_list->currentItem();
    if (!item) return false;
    entry.title = item->text();
    entry.handle = item->data(kHandleRole).value<quintptr>();
    return true;
}
