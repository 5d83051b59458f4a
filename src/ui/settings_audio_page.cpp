// The settings dialog's Audio section: encoder choices with their rules, and voice ducking.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "audio/voice_ducker.h"
#include "ui/preset_item_delegate.h"
#include "ui/settings_dialog.h"
#include "ui/settings_form.h"

using namespace settingsform;

namespace {

const QString kOpus = QStringLiteral("OGG Opus");
const QString kAac = QStringLiteral("AAC");
const QString kOpusSampleRate = QStringLiteral("48000");
// Offered below 64 kbit/s only, for plans whose limit none of the usual rates fits.
const QString kLowestBitrate = QStringLiteral("32");
const QStringList kPlanBitrates = {QStringLiteral("64"), QStringLiteral("96"),
                                   QStringLiteral("128")};

QDoubleSpinBox* makeDecimalSpin(double minimum, double maximum, double value, double step,
                                const QString& suffix, QWidget* parent) {
    auto* spin = new QDoubleSpinBox(parent);
    spin->setObjectName(QStringLiteral("streamSpinBox"));
    spin->setDecimals(1);
    spin->setRange(minimum, maximum);
    spin->setSingleStep(step);
    spin->setValue(value);
    spin->setSuffix(suffix);
    return spin;
}

// The value a bitrate item stands for: its data, or its text when it has none.
QString bitrateOf(const QComboBox* combo, int index) {
    const QVariant data = combo->itemData(index);
    return data.isValid() ? data.toString() : combo->itemText(index);
}

int channelCountOf(const QString& channels) {
    if (channels.compare(QLatin1String("Mono"), Qt::CaseInsensitive) == 0) return 1;
    if (channels.compare(QLatin1String("Stereo"), Qt::CaseInsensitive) == 0) return 2;
    bool ok = false;
    const int count = channels.toInt(&ok);
    return ok ? count : 0;
}

}  // namespace

QWidget* SettingsDialog::buildAudioPage() {
    QVBoxLayout* layout = nullptr;
    QWidget* page = makePage(layout);
    QWidget* content = page->findChild<QWidget*>(QStringLiteral("settingsPageContent"));

    m_encoderCombo = makeCombo(content);
    m_encoderCombo->addItem(QStringLiteral("Opus"), kOpus);
    m_encoderCombo->addItem(QStringLiteral("AAC"), kAac);
    m_encoderCombo->addItem(QStringLiteral("MP3"), QStringLiteral("MP3"));

    m_bitrateCombo = makeCombo(content);
    for (const QString& rate : kPlanBitrates) {
        m_bitrateCombo->addItem(QStringLiteral("%1 Kbps").arg(rate), rate);
    }
    m_bitrateCombo->setCurrentIndex(m_bitrateCombo->count() - 1);
    m_maxBitrateNote = makeLabel(QString(), QStringLiteral("maxBitrateNote"), content);
    m_maxBitrateNote->setStyleSheet(
        QStringLiteral("color: #F97316; font-size: 12px; font-weight: 500;"));

    m_channelsCombo = makeCombo(content);
    m_channelsCombo->addItem(QStringLiteral("Stereo (2)"), 2);
    m_channelsCombo->addItem(QStringLiteral("Mono (1)"), 1);

    m_sampleRateCombo = makeCombo(content);
    m_sampleRateCombo->addItem(QStringLiteral("44.1 kHz"), QStringLiteral("44100"));
    m_sampleRateCombo->addItem(QStringLiteral("48.0 kHz"), kOpusSampleRate);
    m_sampleRateCombo->setCurrentIndex(1);

    m_aacAfterburnerCombo = makeCombo(content);
    m_aacAfterburnerCombo->addItem(QStringLiteral("On"), true);
    m_aacAfterburnerCombo->addItem(QStringLiteral("Off"), false);

    m_aacProfileCombo = makeCombo(content);
    const QStringList profiles = {QStringLiteral("Auto"), QStringLiteral("AAC-LC"),
                                  QStringLiteral("HE-AACv1"), QStringLiteral("HE-AACv2")};
    for (int i = 0; i < profiles.size(); ++i) m_aacProfileCombo->addItem(profiles[i], i);

    m_opusOptimizedCombo = makeCombo(content);
    m_opusOptimizedCombo->addItem(QStringLiteral("Music"), 0);
    m_opusOptimizedCombo->addItem(QStringLiteral("Speech"), 1);

    addHeading(layout, QStringLiteral("Encoder"), QString(), content);
    auto* encoderGrid = new QGridLayout;
    encoderGrid->setHorizontalSpacing(16);
    encoderGrid->setVerticalSpacing(12);
    encoderGrid->addWidget(makeField(QStringLiteral("Encoder Type"), m_encoderCombo, content), 0,
                           0);
    encoderGrid->addWidget(
        makeField(QStringLiteral("Bitrate"), m_bitrateCombo, content, m_maxBitrateNote), 0, 1);
    encoderGrid->addWidget(makeField(QStringLiteral("Channels"), m_channelsCombo, content), 1, 0);
    encoderGrid->addWidget(makeField(QStringLiteral("Sample Rate"), m_sampleRateCombo, content), 1,
                           1);
    m_aacAfterburnerRow =
        makeField(QStringLiteral("AAC Afterburner"), m_aacAfterburnerCombo, content);
    m_aacProfileRow = makeField(QStringLiteral("AAC Profile"), m_aacProfileCombo, content);
    m_opusRow = makeField(QStringLiteral("Opus Optimized For"), m_opusOptimizedCombo, content);
    encoderGrid->addWidget(m_aacAfterburnerRow, 2, 0);
    encoderGrid->addWidget(m_aacProfileRow, 2, 1);
    encoderGrid->addWidget(m_opusRow, 3, 0);
    encoderGrid->setColumnStretch(0, 1);
    encoderGrid->setColumnStretch(1, 1);
    layout->addLayout(encoderGrid);

    // Ducking: heading with its help button, the preset list, the advanced values.
    auto* duckingHeading = new QHBoxLayout;
    duckingHeading->setSpacing(8);
    duckingHeading->addWidget(makeLabel(QStringLiteral("Audio Ducking"),
                                        QStringLiteral("settingsSectionTitle"), content));
    m_duckingHelpButton = new QPushButton(QStringLiteral("?"), content);
    m_duckingHelpButton->setObjectName(QStringLiteral("settingsHelpButton"));
    m_duckingHelpButton->setFixedSize(20, 20);
    m_duckingHelpButton->setToolTip(
        QStringLiteral("Automatically lower one deck's volume when the other deck has audio\n"
                       "(e.g., music ducks when speaking)."));
    m_duckingHelpButton->setAccessibleName(QStringLiteral("About audio ducking"));
    m_duckingHelpButton->setAccessibleDescription(m_duckingHelpButton->toolTip());
    duckingHeading->addWidget(m_duckingHelpButton);
    duckingHeading->addStretch(1);
    layout->addSpacing(6);
    layout->addLayout(duckingHeading);

    m_duckingPresetCombo = makeCombo(content);
    m_duckingPresetCombo->setItemDelegate(new PresetItemDelegate(m_duckingPresetCombo));
    for (int i = 0; i < int(kDuckingPresets.size()); ++i) {
        m_duckingPresetCombo->addItem(QString::fromLatin1(kDuckingPresets[i].name), i);
        m_duckingPresetCombo->setItemData(i, QString::fromLatin1(kDuckingPresets[i].description),
                                          PresetItemDelegate::kDescriptionRole);
    }
    layout->addWidget(makeField(QStringLiteral("Preset"), m_duckingPresetCombo, content));
    m_duckingPresetCombo->setAccessibleName(QStringLiteral("Ducking preset"));

    const auto& advanced = kDuckingPresets[kDuckingPresetAdvanced];
    m_duckingThreshold =
        makeSpinBox(-60, 0, int(advanced.thresholdDb), QStringLiteral(" dB"), content);
    m_duckingRatio = makeDecimalSpin(1.0, 10.0, advanced.ratio, 0.5, QStringLiteral(":1"), content);
    m_duckingAttack = makeSpinBox(1, 1000, advanced.attackMs, QStringLiteral(" ms"), content);
    m_duckingRelease = makeSpinBox(10, 5000, advanced.releaseMs, QStringLiteral(" ms"), content);
    m_duckingKnee =
        makeDecimalSpin(0.0, 20.0, advanced.kneeDb, 1.0, QStringLiteral(" dB"), content);
    m_duckingCustomGroup = new QWidget(content);
    m_duckingCustomGroup->setObjectName(QStringLiteral("duckingCustomGroup"));
    auto* customGrid = new QGridLayout(m_duckingCustomGroup);
    customGrid->setContentsMargins(0, 0, 0, 0);
    customGrid->setHorizontalSpacing(16);
    customGrid->setVerticalSpacing(12);
    customGrid->addWidget(
        makeField(QStringLiteral("Threshold (dB)"), m_duckingThreshold, m_duckingCustomGroup), 0,
        0);
    customGrid->addWidget(makeField(QStringLiteral("Ratio"), m_duckingRatio, m_duckingCustomGroup),
                          0, 1);
    customGrid->addWidget(
        makeField(QStringLiteral("Attack (ms)"), m_duckingAttack, m_duckingCustomGroup), 0, 2);
    customGrid->addWidget(
        makeField(QStringLiteral("Release (ms)"), m_duckingRelease, m_duckingCustomGroup), 1, 0);
    customGrid->addWidget(
        makeField(QStringLiteral("Knee (dB)"), m_duckingKnee, m_duckingCustomGroup), 1, 1);
    for (int column = 0; column < 3; ++column) customGrid->setColumnStretch(column, 1);
    layout->addWidget(m_duckingCustomGroup);
    layout->addStretch(1);

    connect(m_encoderCombo, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::onEncoderChanged);
    connect(m_bitrateCombo, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::onBitrateChanged);
    connect(m_channelsCombo, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::onChannelsChanged);
    connect(m_sampleRateCombo, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::onSampleRateChanged);
    connect(m_aacAfterburnerCombo, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::onAacAfterburnerChanged);
    connect(m_aacProfileCombo, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::onAacProfileChanged);
    connect(m_opusOptimizedCombo, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::onOpusOptimizedForChanged);
    connect(m_duckingPresetCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        applyDuckingPreset(index);
        Q_EMIT duckingSettingsChanged();
    });
    for (QSpinBox* spin : {m_duckingThreshold, m_duckingAttack, m_duckingRelease}) {
        connect(spin, &QSpinBox::valueChanged, this, &SettingsDialog::duckingSettingsChanged);
    }
    for (QDoubleSpinBox* spin : {m_duckingRatio, m_duckingKnee}) {
        connect(spin, &QDoubleSpinBox::valueChanged, this, &SettingsDialog::duckingSettingsChanged);
    }

    applyEncoderRules(false);
    applyDuckingPreset(0);
    return page;
}

void SettingsDialog::applyEncoderRules(bool emitSampleRate) {
    const QString encoder = m_encoderCombo->currentData().toString();
    m_aacAfterburnerRow->setVisible(encoder == kAac);
    m_aacProfileRow->setVisible(encoder == kAac);
    m_opusRow->setVisible(encoder == kOpus);
    if (encoder == kOpus) {
        selectByData(m_sampleRateCombo, kOpusSampleRate);
        m_sampleRateCombo->setEnabled(false);
        m_sampleRateCombo->setToolTip(QStringLiteral("Opus requires 48kHz sample rate"));
        if (emitSampleRate) Q_EMIT sampleRateChanged(kOpusSampleRate);
    } else {
        m_sampleRateCombo->setEnabled(true);
        m_sampleRateCombo->setToolTip(QString());
    }
}

void SettingsDialog::onEncoderChanged(int index) {
    applyEncoderRules(true);
    Q_EMIT encoderChanged(m_encoderCombo->itemData(index).toString());
}

void SettingsDialog::onBitrateChanged(int index) {
    if (index >= 0) Q_EMIT bitrateChanged(bitrateOf(m_bitrateCombo, index));
}

void SettingsDialog::onSampleRateChanged(int index) {
    if (index >= 0) Q_EMIT sampleRateChanged(bitrateOf(m_sampleRateCombo, index));
}

void SettingsDialog::onChannelsChanged(int index) {
    Q_EMIT channelsChanged(m_channelsCombo->itemData(index).toInt() == 1
                               ? QStringLiteral("Mono")
                               : QStringLiteral("Stereo"));
}

void SettingsDialog::onAacAfterburnerChanged(int index) {
    Q_EMIT aacAfterburnerChanged(m_aacAfterburnerCombo->itemData(index).toBool());
}

void SettingsDialog::onAacProfileChanged(int index) {
    Q_EMIT aacProfileChanged(m_aacProfileCombo->itemData(index).toInt());
}

void SettingsDialog::onOpusOptimizedForChanged(int index) {
    Q_EMIT opusOptimizedForChanged(m_opusOptimizedCombo->itemData(index).toInt());
}

void SettingsDialog::setEncoder(const QString& encoder) {
    const int index = findByDataOrText(m_encoderCombo, encoder);
    if (index < 0) return;
    {
        const QSignalBlocker blocker(m_encoderCombo);
        m_encoderCombo->setCurrentIndex(index);
    }
    applyEncoderRules(false);
}

void SettingsDialog::setBitrate(const QString& bitrate) {
    const int index = findByDataOrText(m_bitrateCombo, bitrate);
    if (index < 0) return;
    const QSignalBlocker blocker(m_bitrateCombo);
    m_bitrateCombo->setCurrentIndex(index);
}

void SettingsDialog::setSampleRate(const QString& sampleRate) {
    // Opus holds the list on 48 kHz whatever was stored.
    if (!m_sampleRateCombo->isEnabled()) return;
    const int index = findByDataOrText(m_sampleRateCombo, sampleRate);
    if (index < 0) return;
    const QSignalBlocker blocker(m_sampleRateCombo);
    m_sampleRateCombo->setCurrentIndex(index);
}

void SettingsDialog::setChannels(const QString& channels) {
    if (selectByData(m_channelsCombo, channelCountOf(channels))) return;
    const int index = findByDataOrText(m_channelsCombo, channels);
    if (index < 0) return;
    const QSignalBlocker blocker(m_channelsCombo);
    m_channelsCombo->setCurrentIndex(index);
}

void SettingsDialog::setAacAfterburner(bool enabled) {
    selectByData(m_aacAfterburnerCombo, enabled);
}

void SettingsDialog::setAacProfile(int profile) { selectByData(m_aacProfileCombo, profile); }

void SettingsDialog::setOpusOptimizedFor(int optimizedFor) {
    selectByData(m_opusOptimizedCombo, optimizedFor);
}

void SettingsDialog::setMaxBitrate(int maxBitrateKbps) {
    const QString previous = bitrateOf(m_bitrateCombo, m_bitrateCombo->currentIndex());
    QStringList offered;
    if (maxBitrateKbps > 0 && maxBitrateKbps < kPlanBitrates.first().toInt()) {
        offered << kLowestBitrate;
    } else {
        for (const QString& rate : kPlanBitrates) {
            if (maxBitrateKbps <= 0 || rate.toInt() <= maxBitrateKbps) offered << rate;
        }
    }
    {
        const QSignalBlocker blocker(m_bitrateCombo);
        m_bitrateCombo->clear();
        m_bitrateCombo->addItems(offered);
        const int again = offered.indexOf(previous);
        m_bitrateCombo->setCurrentIndex(again >= 0 ? again : int(offered.size()) - 1);
    }
    m_maxBitrateNote->setText(
        maxBitrateKbps > 0 ? QStringLiteral("(max: %1 kbps)").arg(maxBitrateKbps) : QString());
    const QString current = m_bitrateCombo->currentText();
    if (current != previous) Q_EMIT bitrateChanged(current);
}

void SettingsDialog::applyDuckingPreset(int presetIndex) {
    const bool advanced = presetIndex == kDuckingPresetAdvanced;
    if (!advanced && presetIndex >= 0 && presetIndex < int(kDuckingPresets.size())) {
        const DuckingPreset& preset = kDuckingPresets[presetIndex];
        writeDuckingValues(preset.thresholdDb, preset.ratio, preset.attackMs, preset.releaseMs,
                           preset.kneeDb);
    }
    m_duckingCustomGroup->setVisible(advanced);
}

void SettingsDialog::setDuckingPreset(int presetIndex, double thresholdDb, double ratio,
                                      int attackMs, int releaseMs, double kneeDb) {
    if (presetIndex < 0 || presetIndex >= int(kDuckingPresets.size())) presetIndex = 0;
    {
        const QSignalBlocker blocker(m_duckingPresetCombo);
        m_duckingPresetCombo->setCurrentIndex(presetIndex);
    }
    if (presetIndex == kDuckingPresetAdvanced) {
        writeDuckingValues(thresholdDb, ratio, attackMs, releaseMs, kneeDb);
    }
    applyDuckingPreset(presetIndex);
}

void SettingsDialog::writeDuckingValues(double thresholdDb, double ratio, int attackMs,
                                        int releaseMs, double kneeDb) {
    const QSignalBlocker threshold(m_duckingThreshold);
    const QSignalBlocker ratioBlocker(m_duckingRatio);
    const QSignalBlocker attack(m_duckingAttack);
    const QSignalBlocker release(m_duckingRelease);
    const QSignalBlocker knee(m_duckingKnee);
    // The threshold control counts whole decibels.
    m_duckingThreshold->setValue(qRound(thresholdDb));
    m_duckingRatio->setValue(ratio);
    m_duckingAttack->setValue(attackMs);
    m_duckingRelease->setValue(releaseMs);
    m_duckingKnee->setValue(kneeDb);
}

int SettingsDialog::duckingPreset() const { return m_duckingPresetCombo->currentIndex(); }
double SettingsDialog::duckingThresholdDb() const { return m_duckingThreshold->value(); }
double SettingsDialog::duckingRatio() const { return m_duckingRatio->value(); }
int SettingsDialog::duckingAttackMs() const { return m_duckingAttack->value(); }
int SettingsDialog::duckingReleaseMs() const { return m_duckingRelease->value(); }
double SettingsDialog::duckingKneeDb() const { return m_duckingKnee->value(); }
