#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;

// Small modal dialog for codec, bitrate, sample rate and channels. Every change the user makes is
// reported at once through the signals below (each carries the combo's current text); the
// programmatic selectors never echo a signal. Opus only runs at 48 kHz, so choosing it pins the
// sample rate; the account's plan limit trims the bitrate list.
class EncoderSettingsDialog : public QDialog {
    Q_OBJECT

public:
    explicit EncoderSettingsDialog(QWidget* parent = nullptr);

    // Select the entry with exactly this text; an unknown text leaves the selection as it is.
    void setEncoder(const QString& encoder);
    void setBitrate(const QString& bitrate);
    void setSampleRate(const QString& sampleRate);
    void setChannels(const QString& channels);

    // The plan's limit in kbit/s, 0 for none: only bitrates up to it stay selectable ("32" when
    // none does). Emits bitrateChanged when the selection had to move.
    void setMaxBitrate(int maxBitrateKbps);
    int maxBitrate() const { return m_maxBitrateKbps; }

    QString encoder() const;
    QString bitrate() const;
    QString sampleRate() const;
    QString channels() const;

Q_SIGNALS:
    void encoderChanged(const QString& encoder);
    void bitrateChanged(const QString& bitrate);
    void sampleRateChanged(const QString& sampleRate);
    void channelsChanged(const QString& channels);

protected:
    void showEvent(QShowEvent* event) override;

private Q_SLOTS:
    void onEncoderChanged(int index);
    void onBitrateChanged(int index);
    void onSampleRateChanged(int index);
    void onChannelsChanged(int index);

private:
    // Pins 48 kHz for Opus (without signals) or frees the sample rate again.
    void applyOpusRule();
    static void selectText(QComboBox* combo, const QString& text);

    QComboBox* m_encoderCombo = nullptr;
    QComboBox* m_bitrateCombo = nullptr;
    QComboBox* m_sampleRateCombo = nullptr;
    QComboBox* m_channelsCombo = nullptr;
    QLabel* m_bitrateLabel = nullptr;
    int m_maxBitrateKbps = 0;
};
