#include "ui/stream_health_dialog.h"

#include <initializer_list>

#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/dark_title_bar.h"
#include "ui/stream_health_format.h"

namespace {

constexpr int kRefreshMs = 1000;
constexpr int kWidth = 380;
constexpr int kBarHeight = 20;
constexpr int kScoreWidth = 48;
const QString kNoFigure = QStringLiteral("--");
const QString kBarStyle = QStringLiteral(
    "QProgressBar { background: #E5E7EB; border: none; border-radius: 4px; }"
    "QProgressBar::chunk { background: %1; border-radius: 4px; }");

QString chunkColour(StreamHealthMonitor::HealthLevel level) {
    switch (level) {
        case StreamHealthMonitor::HealthLevel::Good:
            return QStringLiteral("#21BA45");
        case StreamHealthMonitor::HealthLevel::Warning:
            return QStringLiteral("#F29C38");
        case StreamHealthMonitor::HealthLevel::Poor:
            return QStringLiteral("#DB2828");
        default:
            return QStringLiteral("#767676");
    }
}

QGroupBox* makeGroup(const QString& title, QWidget* parent) {
    auto* group = new QGroupBox(title, parent);
    group->setObjectName(QStringLiteral("healthGroup"));
    return group;
}

}  // namespace

StreamHealthDialog::StreamHealthDialog(StreamHealthMonitor* monitor, QWidget* parent)
    : QDialog(parent), m_monitor(monitor) {
    setObjectName(QStringLiteral("streamHealthDialog"));
    setWindowTitle(QStringLiteral("Stream Health"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFixedWidth(kWidth);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);

    auto* overall = makeGroup(QStringLiteral("Overall Health"), this);
    auto* overallRow = new QHBoxLayout(overall);
    overallRow->setContentsMargins(12, 16, 12, 12);
    overallRow->setSpacing(12);
    m_progressBar = new QProgressBar(overall);
    m_progressBar->setObjectName(QStringLiteral("healthProgressBar"));
    m_progressBar->setAccessibleName(QStringLiteral("Overall Health"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedHeight(kBarHeight);
    m_scoreLabel = new QLabel(kNoFigure, overall);
    m_scoreLabel->setObjectName(QStringLiteral("healthScoreLabel"));
    m_scoreLabel->setAccessibleName(QStringLiteral("Health Score"));
    m_scoreLabel->setFixedWidth(kScoreWidth);
    m_scoreLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    overallRow->addWidget(m_progressBar, 1);
    overallRow->addWidget(m_scoreLabel);
    layout->addWidget(overall);

    auto addGroup = [this, layout](const QString& title) {
        auto* group = makeGroup(title, this);
        auto* grid = new QGridLayout(group);
        grid->setContentsMargins(12, 16, 12, 12);
        grid->setSpacing(8);
        grid->setColumnStretch(0, 1);
        grid->setColumnStretch(1, 0);
        layout->addWidget(group);
        return grid;
    };
    QGridLayout* connection = addGroup(QStringLiteral("Connection Metrics"));
    m_averageLatency = addMetricRow(connection, QStringLiteral("Avg Send Latency"));
    m_peakLatency = addMetricRow(connection, QStringLiteral("Peak Latency"));
    m_successRate = addMetricRow(connection, QStringLiteral("Success Rate"));
    QGridLayout* throughput = addGroup(QStringLiteral("Throughput"));
    m_currentThroughput = addMetricRow(throughput, QStringLiteral("Current"));
    m_expectedThroughput = addMetricRow(throughput, QStringLiteral("Expected"));
    m_ratio = addMetricRow(throughput, QStringLiteral("Ratio"));
    QGridLayout* session = addGroup(QStringLiteral("Session"));
    m_totalSent = addMetricRow(session, QStringLiteral("Total Sent"));
    m_uptime = addMetricRow(session, QStringLiteral("Uptime"));
    m_reconnects = addMetricRow(session, QStringLiteral("Reconnects"));
    m_listenerChecks = addMetricRow(session, QStringLiteral("Verified on Air"));
    layout->addStretch();

    m_timer = new QTimer(this);
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &StreamHealthDialog::updateDisplay);
    m_timer->start();
    updateDisplay();
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

QLabel* StreamHealthDialog::addMetricRow(QGridLayout* grid, const QString& name) {
    const int row = grid->count() / 2;  // a name and a value per row
    auto* nameLabel = new QLabel(name, grid->parentWidget());
    nameLabel->setObjectName(QStringLiteral("healthMetricLabel"));
    auto* value = new QLabel(kNoFigure, grid->parentWidget());
    value->setObjectName(QStringLiteral("healthMetricValue"));
    value->setAccessibleName(name);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    nameLabel->setBuddy(value);
    grid->addWidget(nameLabel, row, 0);
    grid->addWidget(value, row, 1);
    return value;
}

void StreamHealthDialog::updateDisplay() {
    if (!m_monitor) {
        m_timer->stop();
        return;
    }
    const int score = m_monitor->score();
    const StreamHealthMonitor::HealthLevel level = m_monitor->level();
    m_progressBar->setValue(score);
    const QString barStyle = kBarStyle.arg(chunkColour(level));
    // A new style sheet re-polishes the bar; only when the level's colour changed.
    if (m_progressBar->styleSheet() != barStyle) m_progressBar->setStyleSheet(barStyle);

    // The count survives the resets of an automatic reconnect, which is when it matters most, so
    // it is shown even while there is nothing to measure.
    m_reconnects->setText(QString::number(m_monitor->reconnectCount()));
    // Like the reconnects: "2 of 3, last after 0.4 s".
    const int verified = m_monitor->verifiedCount();
    const int checks = verified + m_monitor->notVerifiedCount();
    QString listenerChecks =
        checks == 0 ? kNoFigure : QStringLiteral("%1 of %2").arg(verified).arg(checks);
    if (m_monitor->lastVerifiedAfterMs() >= 0) {
        listenerChecks +=
            QStringLiteral(", last after %1 s")
                .arg(QString::number(m_monitor->lastVerifiedAfterMs() / 1000.0, 'f', 1));
    }
    m_listenerChecks->setText(listenerChecks);
    if (level == StreamHealthMonitor::HealthLevel::Unknown) {
        for (QLabel* label :
             {m_scoreLabel, m_averageLatency, m_peakLatency, m_successRate, m_currentThroughput,
              m_expectedThroughput, m_ratio, m_totalSent, m_uptime}) {
            label->setText(kNoFigure);
        }
        return;
    }
    m_scoreLabel->setText(QStringLiteral("%1%").arg(score));
    m_averageLatency->setText(formatLatencyMs(m_monitor->averageLatencyMs()));
    m_peakLatency->setText(formatLatencyMs(m_monitor->peakLatencyMs()));
    m_successRate->setText(formatShare(m_monitor->successRate()));
    m_currentThroughput->setText(formatKbps(m_monitor->throughputKbps()));
    // What the encoder was set to, not throughput / ratio: the ratio is capped at 1 and is 0 when
    // every write fails, which turned that quotient into the current rate or into 0.
    m_expectedThroughput->setText(formatKbps(m_monitor->expectedBitrateKbps()));
    m_ratio->setText(formatShare(m_monitor->throughputRatio()));
    m_totalSent->setText(formatByteCount(m_monitor->totalBytesSent()));
    m_uptime->setText(formatUptime(m_monitor->uptimeSeconds()));
}

void StreamHealthDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    applyDarkTitleBar(this);
}
