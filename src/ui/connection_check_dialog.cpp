// The connection check dialog: rows of steps filled in as the check reports them.
#include "ui/connection_check_dialog.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/dark_title_bar.h"

namespace {

constexpr int kWidth = 520;
constexpr int kIconPx = 20;

QLabel* makeText(const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

}  // namespace

ConnectionCheckDialog::ConnectionCheckDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("connectionCheckDialog"));
    setWindowTitle(QStringLiteral("Connection Check"));
    setModal(false);
    setFixedWidth(kWidth);
    m_check = new ConnectionCheck(this);
    connect(m_check, &ConnectionCheck::stepFinished, this, &ConnectionCheckDialog::showStep);
    connect(m_check, &ConnectionCheck::finished, this, &ConnectionCheckDialog::showEnd);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(14);
    auto* title = makeText(QStringLiteral("checkTitle"), this);
    title->setText(QStringLiteral("Connection check"));
    layout->addWidget(title);
    m_summary = makeText(QStringLiteral("checkSummary"), this);
    m_summary->setAccessibleName(QStringLiteral("Check result"));
    layout->addWidget(m_summary);

    for (int step = 0; step < kCheckStepCount; ++step) {
        Row& row = m_rows[std::size_t(step)];
        auto* line = new QHBoxLayout;
        line->setSpacing(12);
        row.icon = new QLabel(this);
        row.icon->setObjectName(QStringLiteral("checkStepIcon"));
        row.icon->setFixedSize(kIconPx, kIconPx);
        line->addWidget(row.icon, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        row.name = makeText(QStringLiteral("checkStepName"), this);
        row.name->setText(checkStepName(CheckStep(step)));
        row.sentence = makeText(QStringLiteral("checkStepSentence"), this);
        row.sentence->setTextInteractionFlags(Qt::TextSelectableByMouse);
        row.advice = makeText(QStringLiteral("checkStepAdvice"), this);
        texts->addWidget(row.name);
        texts->addWidget(row.sentence);
        texts->addWidget(row.advice);
        line->addLayout(texts, 1);
        layout->addLayout(line);
    }

    auto* footer = new QHBoxLayout;
    footer->addStretch(1);
    m_closeButton = new QPushButton(QStringLiteral("Close"), this);
    m_closeButton->setObjectName(QStringLiteral("alertOkButton"));
    m_closeButton->setCursor(Qt::PointingHandCursor);
    m_closeButton->setDefault(true);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
    footer->addWidget(m_closeButton);
    layout->addLayout(footer);
    resetRows();
}

void ConnectionCheckDialog::start(const ConnectionCheck::Target& target,
                                  const ConnectionCheck::Limits& limits) {
    resetRows();
    m_summary->setText(QStringLiteral("Checking %1:%2%3 \u2026")
                           .arg(target.host)
                           .arg(target.port)
                           .arg(target.mount.startsWith(QLatin1Char('/'))
                                    ? target.mount
                                    : QLatin1Char('/') + target.mount));
    m_check->setLimits(limits);
    m_check->start(target);
}

void ConnectionCheckDialog::resetRows() {
    m_failedStep.clear();
    for (Row& row : m_rows) {
        setIcon(row, QStringLiteral(":/icons/check_pending.svg"), QStringLiteral("pending"));
        row.sentence->clear();
        row.sentence->hide();
        row.advice->clear();
        row.advice->hide();
    }
}

void ConnectionCheckDialog::setIcon(Row& row, const QString& path, const QString& accessibleName) {
    row.icon->setPixmap(QIcon(path).pixmap(QSize(kIconPx, kIconPx), devicePixelRatioF()));
    row.icon->setAccessibleName(accessibleName);
}

void ConnectionCheckDialog::showStep(const CheckStepResult& result) {
    const int index = int(result.step);
    if (index < 0 || index >= kCheckStepCount) return;
    Row& row = m_rows[std::size_t(index)];
    switch (result.verdict) {
        case CheckVerdict::Passed:
            setIcon(row, QStringLiteral(":/icons/alert_success.svg"), QStringLiteral("passed"));
            break;
        case CheckVerdict::Failed:
            setIcon(row, QStringLiteral(":/icons/alert_error.svg"), QStringLiteral("failed"));
            break;
        case CheckVerdict::Skipped:
            setIcon(row, QStringLiteral(":/icons/check_skipped.svg"), QStringLiteral("skipped"));
            break;
    }
    row.sentence->setText(result.sentence);
    row.sentence->setVisible(!result.sentence.isEmpty());
    row.advice->setText(result.advice);
    row.advice->setVisible(!result.advice.isEmpty());
    row.name->setAccessibleDescription(result.sentence);
    for (QLabel* label : {row.name, row.sentence}) {
        label->setProperty("verdict", int(result.verdict));
        label->style()->unpolish(label);
        label->style()->polish(label);
    }
    if (result.verdict == CheckVerdict::Failed && m_failedStep.isEmpty())
        m_failedStep = checkStepName(result.step);
    adjustSize();
}

void ConnectionCheckDialog::showEnd(bool passed) {
    m_summary->setText(passed ? QStringLiteral("Every step passed: this computer can go live on "
                                               "this server.")
                              : QStringLiteral("The check stopped at \u201c%1\u201d, the first "
                                               "step that failed.")
                                    .arg(m_failedStep));
}

void ConnectionCheckDialog::done(int result) {
    m_check->cancel();
    QDialog::done(result);
}

void ConnectionCheckDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    applyDarkTitleBar(this);
}
