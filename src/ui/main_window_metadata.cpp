// The main window's title row: the manual entry, the Update button and the source's titles.
#include "ui/main_window.h"

#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "audio/encoder_settings.h"
#include "broadcast/broadcaster.h"
#include "broadcast/icecast_client.h"
#include "core/log_categories.h"
#include "metadata/metadata_manager.h"
#include "metadata/now_playing_text.h"
#include "ui/app_state.h"
#include "ui/go_live_input.h"
#include "widgets/marquee_label.h"

namespace {
constexpr int kUpdateButtonRestoreMs = 300;
}  // namespace

void MainWindow::updateMetadata() {
    const QString text =
        nowplaying::songText(m_metadataManager->title(), m_metadataManager->artist());
    if (!text.isEmpty()) {
        if (!m_titleEntry->hasFocus()) m_titleEntry->setText(text);
        m_appState->setCurrentSong(text);
        qCInfo(lcUi) << "Auto-metadata updated:" << text;
    }
    IcecastClient* client = m_broadcaster->icecastClient();
    if (client && client->isConnected()) {
        m_titleUpdateFromButton = false;
        if (client->sendMetadata(m_metadataManager->title(), m_metadataManager->artist())) {
            m_titleStatus->setText(QStringLiteral("Sending title..."));
            setTitleMark(std::nullopt, QString());
        }
    }
}

void MainWindow::onManualMetadataUpdate() {
    qCInfo(lcUi) << "Update song metadata clicked";
    m_updateButton->setEnabled(false);
    m_updateButton->setText(QStringLiteral("Updating..."));
    const QString text = m_titleEntry->text().trimmed();
    if (text.isEmpty()) {
        qCInfo(lcUi) << "Metadata update skipped (empty input)";
        m_titleStatus->setText(QStringLiteral("Metadata update skipped (empty input)"));
        finishUpdateButton();
        return;
    }
    m_metadataManager->setSource(MetadataSource::Manual);
    const ManualTitle split = splitManualTitle(text);
    {
        const QSignalBlocker blocker(m_metadataManager);
        m_metadataManager->setManualMetadata(split.title, split.artist);
    }
    IcecastClient* client = m_broadcaster->icecastClient();
    if (!client->isConnected()) {
        m_titleStatus->setText(QStringLiteral("Metadata update failed (not connected)"));
        notifyNow(AlertDialog::Variant::Error, QStringLiteral("Metadata Update"),
                  QStringLiteral("Not connected to the streaming server."));
        finishUpdateButton();
        return;
    }
    qCInfo(lcUi) << "Sending metadata" << split.artist << "-" << split.title;
    m_titleUpdateFromButton = true;
    if (!client->sendMetadata(split.title, split.artist)) {
        onTitleFailed(QString());
        return;
    }
    m_titleStatus->setText(QStringLiteral("Sending title..."));
    setTitleMark(std::nullopt, QString());
    // The outcome arrives as metadataSent or metadataFailed; the button waits for it.
}

void MainWindow::onTitleSent() {
    if (m_titleUpdateFromButton) {
        m_appState->setCurrentSong(m_titleEntry->text().trimmed());
        finishUpdateButton();
    }
    m_titleUpdateFromButton = false;
    m_titleStatus->setText(QStringLiteral("Metadata updated"));
}

void MainWindow::onTitleFailed(const QString& error) {
    if (!error.isEmpty()) qCWarning(lcUi) << "Title not sent:" << error;
    m_titleStatus->setText(QStringLiteral("Metadata update failed"));
    if (m_titleUpdateFromButton) {
        m_titleUpdateFromButton = false;
        finishUpdateButton();
        notifyLater(AlertDialog::Variant::Error, QStringLiteral("Metadata Update"),
                    QStringLiteral("Failed to send metadata update."));
    }
}

void MainWindow::onTitleConfirmation(TitleConfirmation::Outcome outcome, const QString& song) {
    setTitleMark(outcome, song);
    const QString text = TitleConfirmation::outcomeText(outcome);
    m_titleStatus->setText(text.left(1).toUpper() + text.mid(1));
}

void MainWindow::setTitleMark(std::optional<TitleConfirmation::Outcome> outcome,
                              const QString& song) {
    if (!outcome) {
        m_titleMark->hide();
        return;
    }
    QString icon = QStringLiteral(":/icons/alert_info.svg");
    if (*outcome == TitleConfirmation::Outcome::Confirmed)
        icon = QStringLiteral(":/icons/alert_success.svg");
    if (*outcome == TitleConfirmation::Outcome::NotShown)
        icon = QStringLiteral(":/icons/alert_warning.svg");
    m_titleMark->setPixmap(QIcon(icon).pixmap(m_titleMark->size(), devicePixelRatioF()));
    const QString text =
        QStringLiteral("\u201c%1\u201d: %2").arg(song, TitleConfirmation::outcomeText(*outcome));
    m_titleMark->setToolTip(text);
    m_titleMark->setAccessibleName(QStringLiteral("Title confirmation"));
    m_titleMark->setAccessibleDescription(text);
    m_titleMark->show();
}

void MainWindow::finishUpdateButton() {
    QTimer::singleShot(kUpdateButtonRestoreMs, this, [this] {
        m_updateButton->setText(QStringLiteral("Update"));
        updateMetadataControls();
    });
}

void MainWindow::updateMetadataControls() {
    if (!m_updateButton) return;
    const Codec codec = m_broadcaster->encoderSettings()->codec();
    const bool ogg = codec == Codec::Opus || codec == Codec::Vorbis;
    TitleSourceKind kind = TitleSourceKind::Manual;
    bool configured = false;
    switch (m_metadataManager->source()) {
        case MetadataSource::Manual:
            break;
        case MetadataSource::TextFile:
            kind = TitleSourceKind::File;
            configured = !m_metadataManager->filePath().trimmed().isEmpty();
            break;
        case MetadataSource::URL:
            kind = TitleSourceKind::Url;
            configured = !QUrl(m_metadataManager->url().trimmed()).host().isEmpty();
            break;
        case MetadataSource::WindowTitle:
            kind = TitleSourceKind::WindowTitle;
            configured = m_metadataManager->windowHandle() != 0;
            break;
    }
    const TitleRowState state = titleRowState(ogg, kind, configured, m_appState->serverOnline(),
                                              m_appState->isBroadcasting());
    m_titleEntry->setEnabled(true);
    // While a title is on its way the button keeps showing it.
    if (!m_titleUpdateFromButton) m_updateButton->setEnabled(state.updateEnabled);
    m_updateButton->setToolTip(state.updateToolTip);
    m_titleNote->setVisible(state.noteVisible);
    if (state.noteVisible)
        m_titleNote->setText(state.updateToolTip.section(QLatin1Char('\n'), 0, 0));
}

void MainWindow::resyncSongIntoEntry() {
    const QString song = m_appState->currentSong();
    m_nowPlaying->setText(song.isEmpty() ? QStringLiteral("—") : song);
    if (m_titleEntry->hasFocus() || m_appState->connectionState() != AppState::Connected) return;
    if (!song.isEmpty() && song != m_titleEntry->text()) m_titleEntry->setText(song);
}

// The server forgets a title when a source (re)connects; once it plays ours, send it again.
void MainWindow::pushCurrentTitle() {
    if (m_metadataManager->source() == MetadataSource::Manual) {
        if (!m_titleEntry->text().trimmed().isEmpty()) onManualMetadataUpdate();
        return;
    }
    IcecastClient* client = m_broadcaster->icecastClient();
    if (!m_metadataManager->title().isEmpty() && client->isConnected()) {
        m_titleUpdateFromButton = false;
        client->sendMetadata(m_metadataManager->title(), m_metadataManager->artist());
    }
}
