#include "ui/loading_window.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/dark_title_bar.h"

LoadingWindow::LoadingWindow(QWidget* parent) : QMainWindow(parent) {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setSpacing(20);
    layout->setContentsMargins(40, 40, 40, 40);

    m_titleLabel = new QLabel(QStringLiteral("Ondaro Doredoradar"), central);
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setStyleSheet(QStringLiteral(
        "QLabel { font-size: 24px; font-weight: 700; color: rgba(0, 0, 0, 0.87); }"));
    layout->addWidget(m_titleLabel);

    m_statusLabel = new QLabel(QStringLiteral("Loading..."), central);
    m_statusLabel->setAlignment(Qt::AlignCenter);
    m_statusLabel->setStyleSheet(
        QStringLiteral("QLabel { font-size: 14px; font-weight: 400; color: #4B5563; }"));
    layout->addWidget(m_statusLabel);

    m_progressBar = new QProgressBar(central);
    m_progressBar->setRange(0, 0);
    m_progressBar->setTextVisible(false);
    m_progressBar->setStyleSheet(QStringLiteral(
        "QProgressBar {    border: 1px solid #ccc;    border-radius: 4px;    "
        "background-color: #f0f0f0;    height: 8px;}QProgressBar::chunk {    "
        "background-color: #0078d4;    border-radius: 4px;}"));
    layout->addWidget(m_progressBar);
    layout->addStretch();

    setCentralWidget(central);
    setWindowTitle(QStringLiteral("Ondaro Doredoradar - Loading"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    resize(400, 200);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(width() / 2, height() / 2));
    }
    applyDarkTitleBar(this);
}

void LoadingWindow::setStatus(const QString& text) { m_statusLabel->setText(text); }

QString LoadingWindow::status() const { return m_statusLabel->text(); }
