#include "ui/encoder_settings_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "audio/encoder_settings.h"
#include "ui/dark_title_bar.h"

namespace {

const QStringList kBitrates = {QStringLiteral("32"),  QStringLiteral("64"),  QStringLiteral("96"),
                               QStringLiteral("128"), QStringLiteral("160"), QStringLiteral("192"),
                               QStringLiteral("256"), QStringLiteral("320")};
const QString kOpus48kHz = QStringLiteral("48000");
const QString kBitrateLabel = QStringLiteral("Bitrate:");

QComboBox* makeCombo(const QString& objectName, const QStringList& items, const QString& selected,
                     QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(objectName);
    combo->addItems(items);
    combo->setCurrentText(selected);
    return combo;
}

}  // namespace

EncoderSettingsDialog::EncoderSettingsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Encoder Settings"));
    setModal(true);

    QStringList encoders;
    for (Codec codec : {Codec::Mp3, Codec::Aac, Codec::Vorbis, Codec::Opus}) {
        encoders << codecDisplayName(int(codec));
    }
    m_encoderCombo = makeCombo(QStringLiteral("encoderCombo"), encoders, encoders.first(), this);
    m_bitrateCombo =
        makeCombo(QStringLiteral("bitrateCombo"), kBitrates, QStringLiteral("128"), this);
    m_sampleRateCombo = makeCombo(QStringLiteral("sampleRateCombo"),
                                  {QStringLiteral("22050"), QStringLiteral("44100"), kOpus48kHz},
                                  QStringLiteral("44100"), this);
    m_channelsCombo = makeCombo(QStringLiteral("channelsCombo"),
                                {QStringLiteral("Mono"), QStringLiteral("Stereo")},
                                QStringLiteral("Stereo"), this);

    m_bitrateLabel = new QLabel(kBitrateLabel, this);
    m_bitrateLabel->setObjectName(QStringLiteral("bitrateLabel"));

    auto* form = new QFormLayout;
    form->addRow(new QLabel(QStringLiteral("Encoder:"), this), m_encoderCombo);
    form->addRow(m_bitrateLabel, m_bitrateCombo);
    form->addRow(new QLabel(QStringLiteral("Sample Rate:"), this), m_sampleRateCombo);
    form->addRow(new QLabel(QStringLiteral("Channels:"), this), m_channelsCombo);

    // Changes apply as they are made, so the only button closes the dialog.
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    applyOpusRule();

    connect(m_encoderCombo, &QComboBox::currentIndexChanged, this,
            &EncoderSettingsDialog::onEncoderChanged);
    connect(m_bitrateCombo, &QComboBox::currentIndexChanged, this,
            &EncoderSettingsDialog::onBitrateChanged);
    connect(m_sampleRateCombo, &QComboBox::currentIndexChanged, this,
            &EncoderSettingsDialog::onSampleRateChanged);
    connect(m_channelsCombo, &QComboBox::currentIndexChanged, this,
            &EncoderSettingsDialog::onChannelsChanged);
}

QString EncoderSettingsDialog::encoder() const { return m_encoderCombo->currentText(); }
QString EncoderSettingsDialog::bitrate() const { return m_bitrateCombo->currentText(); }
QString EncoderSettingsDialog::sampleRate() const { return m_sampleRateCombo->currentText(); }
QString EncoderSettingsDialog::channels() const { return m_channelsCombo->currentText(); }

void EncoderSettingsDialog::selectText(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) return;
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(index);
}

void EncoderSettingsDialog::setEncoder(const QString& encoder) {
    selectText(m_encoderCombo, encoder);
    applyOpusRule();
}

void EncoderSettingsDialog::setBitrate(const QString& bitrate) {
    selectText(m_bitrateCombo, bitrate);
}

void EncoderSettingsDialog::setSampleRate(const QString& sampleRate) {
    selectText(m_sampleRateCombo, sampleRate);
    applyOpusRule();  // Opus keeps its 48 kHz whatever is asked
}

void EncoderSettingsDialog::setChannels(const QString& channels) {
    selectText(m_channelsCombo, channels);
}

void EncoderSettingsDialog::applyOpusRule() {
    const bool opus =
        m_encoderCombo->currentText() == codecDisplayName(int(Codec::Opus));
    if (opus) {
        selectText(m_sampleRateCombo, kOpus48kHz);
        m_sampleRateCombo->setToolTip(QStringLiteral("Opus requires 48kHz sample rate"));
    } else {
        m_sampleRateCombo->setToolTip(QString());
    }
    m_sampleRateCombo->setEnabled(!opus);
}

void EncoderSettingsDialog::setMaxBitrate(int maxBitrateKbps) {
    m_maxBitrateKbps = maxBitrateKbps;
    const QString previous = m_bitrateCombo->currentText();
    {
        const QSignalBlocker blocker(m_bitrateCombo);
        m_bitrateCombo->clear();
        for (const QString& entry : kBitrates) {
            if (maxBitrateKbps <= 0 || entry.toInt() <= maxBitrateKbps) {
                m_bitrateCombo->addItem(entry);
            }
        }
        if (m_bitrateCombo->count() == 0) m_bitrateCombo->addItem(kBitrates.first());
        const int again =
            m_bitrateCombo->findText(previous, Qt::MatchExactly | Qt::MatchCaseSensitive);
        m_bitrateCombo->setCurrentIndex(again >= 0 ? again : m_bitrateCombo->count() - 1);
    }
    if (maxBitrateKbps > 0) {
        m_bitrateLabel->setText(QStringLiteral("Bitrate (max: %1):").arg(maxBitrateKbps));
        m_bitrateLabel->setStyleSheet(QStringLiteral("color: #ff6600; font-weight: bold;"));
    } else {
        m_bitrateLabel->setText(kBitrateLabel);
        m_bitrateLabel->setStyleSheet(QString());
    }
    if (m_bitrateCombo->currentText() != previous)
        Q_EMIT bitrateChanged(m_bitrateCombo->currentText());
}

void EncoderSettingsDialog::onEncoderChanged(int index) {
    Q_UNUSED(index);
    applyOpusRule();
    // Whoever listens must hear about the pinned rate before the codec that needs it.
    if (!m_sampleRateCombo->isEnabled()) Q_EMIT sampleRateChanged(m_sampleRateCombo->currentText());
    Q_EMIT encoderChanged(m_encoderCombo->currentText());
}

void EncoderSettingsDialog::onBitrateChanged(int index) {
    Q_UNUSED(index);
    Q_EMIT bitrateChanged(m_bitrateCombo->currentText());
}

void EncoderSettingsDialog::onSampleRateChanged(int index) {
    Q_UNUSED(index);
    Q_EMIT sampleRateChanged(m_sampleRateCombo->currentText());
}

void EncoderSettingsDialog::onChannelsChanged(int index) {
    Q_UNUSED(index);
    Q_EMIT channelsChanged(m_channelsCombo->currentText());
}

void EncoderSettingsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    applyDarkTitleBar(this);
}
