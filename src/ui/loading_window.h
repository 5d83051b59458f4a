#pragma once

#include <QMainWindow>

class QLabel;
class QProgressBar;

// Shown from start-up until the first login or main window replaces it.
class LoadingWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit LoadingWindow(QWidget* parent = nullptr);

    void setStatus(const QString& text);
    QString status() const;

private:
    QLabel* m_titleLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
    QProgressBar* m_progressBar = nullptr;
};
