#pragma once

// The non-modal window with the stream health monitor's figures, refreshed once a second.

#include <QDialog>
#include <QPointer>

#include "broadcast/stream_health_monitor.h"

class QGridLayout;
class QLabel;
class QProgressBar;
class QTimer;

// Reads the monitor and changes nothing. It deletes itself when closed and goes with its parent
// window; the monitor may go first (logging out tears the broadcast down), after which the
// figures stay as they were last shown.
class StreamHealthDialog : public QDialog {
    Q_OBJECT

public:
    StreamHealthDialog(StreamHealthMonitor* monitor, QWidget* parent);

public Q_SLOTS:
    void updateDisplay();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* addMetricRow(QGridLayout* grid, const QString& name);

    QPointer<StreamHealthMonitor> m_monitor;
    QTimer* m_timer = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_scoreLabel = nullptr;
    QLabel* m_averageLatency = nullptr;
    QLabel* m_peakLatency = nullptr;
    QLabel* m_successRate = nullptr;
    QLabel* m_currentThroughput = nullptr;
    QLabel* m_expectedThroughput = nullptr;
    QLabel* m_ratio = nullptr;
    QLabel* m_totalSent = nullptr;
    QLabel* m_uptime = nullptr;
    QLabel* m_reconnects = nullptr;
    QLabel* m_listenerChecks = nullptr;
};
