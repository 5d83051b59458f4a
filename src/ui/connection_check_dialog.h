// The window's connection check: each step of the check with its verdict, as it completes.
#pragma once

#include <array>

#include <QDialog>
#include <QString>

#include "broadcast/connection_check.h"

class QLabel;
class QPushButton;

// Runs a ConnectionCheck against a target and shows one row per step: a pending, pass, fail or
// skipped icon, the step's name, the sentence and the advice. Non-modal; closing it cancels a
// check still running. Main thread only.
class ConnectionCheckDialog : public QDialog {
    Q_OBJECT

public:
    explicit ConnectionCheckDialog(QWidget* parent = nullptr);

    // Starts the check (every row back to pending).
    void start(const ConnectionCheck::Target& target,
               const ConnectionCheck::Limits& limits = ConnectionCheck::Limits());
    // Shows one step's result in its row.
    void showStep(const CheckStepResult& result);
    // Shows how the check ended in the header.
    void showEnd(bool passed);

    ConnectionCheck* check() const { return m_check; }

protected:
    void done(int result) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Row {
        QLabel* icon = nullptr;
        QLabel* name = nullptr;
        QLabel* sentence = nullptr;
        QLabel* advice = nullptr;
    };

    void resetRows();
    void setIcon(Row& row, const QString& path, const QString& accessibleName);

    ConnectionCheck* m_check = nullptr;
    QLabel* m_summary = nullptr;
    QPushButton* m_closeButton = nullptr;
    QString m_failedStep;
    std::array<Row, kCheckStepCount> m_rows{};
};
