#include "ui/app_picker_dialog.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dark_title_bar.h"

namespace {

constexpr int kMinimumWidth = 420;
constexpr int kListMinimumHeight = 180;

// Its own light look, whatever the window behind it uses.
const char kStyleSheet[] = R"(
#appPickerDialog { background-color: #FFFFFF; }
#appPickerDialog QLabel { color: #111827; font-size: 13px; }
#appPickerPrompt { font-weight: 600; }
#appPickerNote { color: #6B7280; font-size: 12px; }
#appPickerList {
    background-color: #FFFFFF; border: 1px solid #E5E7EB; border-radius: 8px; padding: 4px;
    font-size: 13px; color: #111827;
}
#appPickerList::item { padding: 6px 8px; border-radius: 6px; }
#appPickerList::item:selected { background-color: #DBEAFE; color: #1E3A8A; }
#appPickerConfirmButton, #appPickerCancelButton { min-width: 80px; }
#appPickerConfirmButton { background-color: #0078D4; color: #FFFFFF; border: none; }
#appPickerConfirmButton:hover { background-color: #106EBE; }
)";

}  // namespace

AppPickerDialog::AppPickerDialog(const QList<CaptureProgram>& programs, QWidget* parent)
    : QDialog(parent), m_programs(programs) {
    setObjectName(QStringLiteral("appPickerDialog"));
    setWindowTitle(QStringLiteral("Select Application to Capture"));
    QFont font = this->font();
    font.setFamilies(QStringList{QStringLiteral("Inter")} + font.families());
    setFont(font);
    setStyleSheet(QLatin1String(kStyleSheet));
    setMinimumWidth(kMinimumWidth);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(12);

    auto* prompt = new QLabel(QStringLiteral("Select an application to capture audio from:"), this);
    prompt->setObjectName(QStringLiteral("appPickerPrompt"));
    layout->addWidget(prompt);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("appPickerList"));
    m_list->setAccessibleName(QStringLiteral("Applications playing audio"));
    m_list->setMinimumHeight(kListMinimumHeight);
    for (const CaptureProgram& program : programs) {
        auto* row = new QListWidgetItem(program.name, m_list);
        row->setData(Qt::UserRole, program.window);
    }
    if (m_list->count() > 0) m_list->setCurrentRow(0);
    prompt->setBuddy(m_list);
    layout->addWidget(m_list);

    auto* note = new QLabel(
        QStringLiteral("<i>Note: The captured audio will play through both the app and your "
                       "broadcast. To prevent hearing it locally, use a virtual audio cable "
                       "(VB-Cable, VoiceMeeter, etc.) to route the app's audio exclusively to the "
                       "broadcast.</i>"),
        this);
    note->setObjectName(QStringLiteral("appPickerNote"));
    note->setTextFormat(Qt::RichText);
    note->setWordWrap(true);
    layout->addWidget(note);

    auto* footer = new QHBoxLayout;
    footer->addStretch();
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("appPickerCancelButton"));
    auto* confirm = new QPushButton(QStringLiteral("Capture"), this);
    confirm->setObjectName(QStringLiteral("appPickerConfirmButton"));
    confirm->setDefault(true);
    footer->addWidget(cancel);
    footer->addWidget(confirm);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(confirm, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    layout->addLayout(footer);
}

std::optional<CaptureProgram> AppPickerDialog::selectedProgram() const {
    const QListWidgetItem* row = m_list->currentItem();
    if (!row || !row->isSelected()) return std::nullopt;
    const int index = m_list->row(row);
    if (index < 0 || index >= m_programs.size()) return std::nullopt;
    return m_programs.at(index);
}

std::optional<CaptureProgram> AppPickerDialog::pick(const QList<CaptureProgram>& programs,
                                                    QWidget* parent) {
    AppPickerDialog dialog(programs, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selectedProgram();
}

void AppPickerDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    applyDarkTitleBar(this);
}
