#include <QComboBox>
#include <QLabel>
#include <QtTest>

#include "ui/encoder_settings_dialog.h"

namespace {

QStringList itemsOf(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

}  // namespace

class TestEncoderSettingsDialog : public QObject {
    Q_OBJECT

    EncoderSettingsDialog* m_dialog = nullptr;
    QComboBox* m_encoder = nullptr;
    QComboBox* m_bitrate = nullptr;
    QComboBox* m_sampleRate = nullptr;
    QComboBox* m_channels = nullptr;
    QLabel* m_bitrateLabel = nullptr;

    // Every signal of the dialog in the order it went out, as "name=text".
    QStringList m_emitted;

private Q_SLOTS:
    void init() {
        m_dialog = new EncoderSettingsDialog;
        m_encoder = m_dialog->findChild<QComboBox*>(QStringLiteral("encoderCombo"));
        m_bitrate = m_dialog->findChild<QComboBox*>(QStringLiteral("bitrateCombo"));
        m_sampleRate = m_dialog->findChild<QComboBox*>(QStringLiteral("sampleRateCombo"));
        m_channels = m_dialog->findChild<QComboBox*>(QStringLiteral("channelsCombo"));
        m_bitrateLabel = m_dialog->findChild<QLabel*>(QStringLiteral("bitrateLabel"));
        QVERIFY(m_encoder && m_bitrate && m_sampleRate && m_channels && m_bitrateLabel);
        m_emitted.clear();
        auto record = [this](const char* name) {
            return [this, name](const QString& text) {
                m_emitted << QStringLiteral("%1=%2").arg(QLatin1String(name), text);
            };
        };
        connect(m_dialog, &EncoderSettingsDialog::encoderChanged, this, record("encoder"));
        connect(m_dialog, &EncoderSettingsDialog::bitrateChanged, this, record("bitrate"));
        connect(m_dialog, &EncoderSettingsDialog::sampleRateChanged, this, record("sampleRate"));
        connect(m_dialog, &EncoderSettingsDialog::channelsChanged, this, record("channels"));
    }

    void cleanup() { delete m_dialog; }

    void startsWithItsLists() {
        QVERIFY(m_dialog->isModal());
        QCOMPARE(itemsOf(m_bitrate),
                 QStringList({"32", "64", "96", "128", "160", "192", "256", "320"}));
        QVERIFY(m_sampleRate->isEnabled());
        QVERIFY(m_emitted.isEmpty());
    }

    void userChangesAreReportedWithTheirText() {
        m_bitrate->setCurrentText(QStringLiteral("192"));
        m_sampleRate->setCurrentText(QStringLiteral("22050"));
        m_channels->setCurrentText(QStringLiteral("Mono"));
        m_encoder->setCurrentText(QStringLiteral("AAC"));
        QCOMPARE(m_emitted,
                 QStringList({"bitrate=192", "sampleRate=22050", "channels=Mono", "encoder=AAC"}));
    }

    void choosingOpusPinsTheSampleRateFirst() {
        m_encoder->setCurrentText(QStringLiteral("OGG Opus"));
        QCOMPARE(m_emitted, QStringList({"sampleRate=48000", "encoder=OGG Opus"}));
        QCOMPARE(m_dialog->sampleRate(), QStringLiteral("48000"));
        QVERIFY(!m_sampleRate->isEnabled());
        QCOMPARE(m_sampleRate->toolTip(), QStringLiteral("Opus requires 48kHz sample rate"));

        m_emitted.clear();
        m_encoder->setCurrentText(QStringLiteral("OGG Vorbis"));
        QCOMPARE(m_emitted, QStringList({"encoder=OGG Vorbis"}));
        QVERIFY(m_sampleRate->isEnabled());
        QCOMPARE(m_sampleRate->toolTip(), QString());
    }

    void selectorsNeverEcho() {
        m_dialog->setEncoder(QStringLiteral("OGG Opus"));
        QCOMPARE(m_dialog->encoder(), QStringLiteral("OGG Opus"));
        QCOMPARE(m_dialog->sampleRate(), QStringLiteral("48000"));
        QVERIFY(!m_sampleRate->isEnabled());
        m_dialog->setSampleRate(QStringLiteral("22050"));  // Opus keeps 48 kHz
        QCOMPARE(m_dialog->sampleRate(), QStringLiteral("48000"));

        m_dialog->setEncoder(QStringLiteral("MP3"));
        QVERIFY(m_sampleRate->isEnabled());
        m_dialog->setBitrate(QStringLiteral("256"));
        m_dialog->setSampleRate(QStringLiteral("22050"));
        m_dialog->setChannels(QStringLiteral("Mono"));
        QCOMPARE(m_dialog->bitrate(), QStringLiteral("256"));
        QCOMPARE(m_dialog->sampleRate(), QStringLiteral("22050"));
        QCOMPARE(m_dialog->channels(), QStringLiteral("Mono"));

        // Unknown or differently cased texts leave the selection alone.
        m_dialog->setEncoder(QStringLiteral("mp3"));
        m_dialog->setEncoder(QString());
        m_dialog->setBitrate(QStringLiteral("100"));
        m_dialog->setChannels(QStringLiteral("stereo"));
        QCOMPARE(m_dialog->encoder(), QStringLiteral("MP3"));
        QCOMPARE(m_dialog->bitrate(), QStringLiteral("256"));
        QCOMPARE(m_dialog->channels(), QStringLiteral("Mono"));
        QVERIFY(m_emitted.isEmpty());
    }

    void planLimitTrimsTheBitrates() {
        m_dialog->setMaxBitrate(100);
        QCOMPARE(itemsOf(m_bitrate), QStringList({"32", "64", "96"}));
        QCOMPARE(m_dialog->bitrate(), QStringLiteral("96"));
        QCOMPARE(m_emitted, QStringList({"bitrate=96"}));
        QCOMPARE(m_bitrateLabel->text(), QStringLiteral("Bitrate (max: 100):"));
        QCOMPARE(m_bitrateLabel->styleSheet(),
                 QStringLiteral("color: #ff6600; font-weight: bold;"));

        // A selection that is still allowed stays, silently.
        m_emitted.clear();
        m_dialog->setBitrate(QStringLiteral("64"));
        m_dialog->setMaxBitrate(128);
        QCOMPARE(itemsOf(m_bitrate), QStringList({"32", "64", "96", "128"}));
        QCOMPARE(m_dialog->bitrate(), QStringLiteral("64"));

        m_dialog->setMaxBitrate(16);
        QCOMPARE(itemsOf(m_bitrate), QStringList({"32"}));
        QCOMPARE(m_emitted, QStringList({"bitrate=32"}));

        m_emitted.clear();
        m_dialog->setMaxBitrate(0);
        QCOMPARE(itemsOf(m_bitrate).size(), 8);
        QCOMPARE(m_dialog->bitrate(), QStringLiteral("32"));
        QCOMPARE(m_bitrateLabel->text(), QStringLiteral("Bitrate:"));
        QCOMPARE(m_bitrateLabel->styleSheet(), QString());
        QVERIFY(m_emitted.isEmpty());
    }
};

QTEST_MAIN(TestEncoderSettingsDialog)
#include "test_encoder_settings_dialog.moc"
