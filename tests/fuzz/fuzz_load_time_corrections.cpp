// Fuzz target: start-up corrections of settings read back from a hand-edited or odd store.
#include <cmath>
#include <cstdint>
#include <cstring>

#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include "audio/encoder_settings.h"
#include "core/settings_file_guard.h"
#include "core/settings_keys.h"
#include "fuzz_check.h"
#include "ui/load_time_corrections.h"

namespace {

using namespace settingskeys;

const char* const kKeys[] = {kMetadataSource.name, kMetadataFilePath.name, kMetadataUrl.name,
                             kDeck1Device.name,    kDeck2Device.name,      kDuckingThreshold.name,
                             kDuckingRatio.name,   kDuckingAttack.name,    kDuckingRelease.name,
                             kDuckingKnee.name,    kWindowGeometry.name,   kWindowState.name};

// A value of the type the next byte picks, made from the bytes after it.
QVariant typedValue(std::uint8_t type, const QByteArray& bytes) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, bytes.constData(), std::min<std::size_t>(sizeof bits, bytes.size()));
    double number = 0.0;
    std::memcpy(&number, &bits, sizeof number);
    switch (type % 8) {
        case 0:
            return QString::fromUtf8(bytes);
        case 1:
            return static_cast<int>(bits);
        case 2:
            return static_cast<qlonglong>(bits);
        case 3:
            return number;  // NaN and infinities included
        case 4:
            return bool(bits & 1);
        case 5:
            return bytes;
        case 6:
            return QString::fromUtf8(bytes).split(QLatin1Char(','));
        default:
            return QVariant();
    }
}

}  // namespace

// The first byte: odd takes the rest as the INI file itself; even reads records of a key
// index, a type, a length and that many value bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("settings.ini"));
    QFile::remove(path);
    if (data[0] & 1) {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(data + 1), static_cast<qint64>(size - 1));
        file.close();
        settingsfile::removeSerializedVariants(path);  // as the application does at start
    }
    QSettings settings(path, QSettings::IniFormat);
    if (!(data[0] & 1)) {
        for (std::size_t i = 1; i + 3 <= size;) {
            const char* key = kKeys[data[i] % std::size(kKeys)];
            const std::uint8_t type = data[i + 1];
            const std::size_t length = std::min<std::size_t>(data[i + 2], size - i - 3);
            const QByteArray bytes(reinterpret_cast<const char*>(data + i + 3),
                                   static_cast<qsizetype>(length));
            settings.setValue(QString::fromLatin1(key), typedValue(type, bytes));
            i += 3 + length;
        }
    }

    const QStringList deck1 = {QStringLiteral("Default"), QStringLiteral("Mic"),
                               QStringLiteral("Mic")};
    const QStringList deck2 = {QStringLiteral("Line In")};
    EncoderSettings encoder;
    const LoadTimeCorrections result = applyLoadTimeCorrections(settings, deck1, deck2, encoder);

    FUZZ_CHECK(result.metadataSource >= 0 && result.metadataSource <= 2);
    FUZZ_CHECK(read(settings, kMetadataSource) == result.metadataSource);
    if (!result.missingMetadataFile.isEmpty()) FUZZ_CHECK(result.metadataSource == 0);
    if (result.metadataSource == 1) FUZZ_CHECK(!read(settings, kMetadataFilePath).isEmpty());
    if (result.metadataSource == 2) FUZZ_CHECK(!read(settings, kMetadataUrl).isEmpty());
    const auto checkDevice = [&](int index, const QStringList& listed, const QString& saved) {
        FUZZ_CHECK(index == -1 || (index >= 0 && index < listed.size() && listed[index] == saved));
        if (index == -1) FUZZ_CHECK(saved.isEmpty() || !listed.contains(saved));
    };
    checkDevice(result.deck1DeviceIndex, deck1, read(settings, kDeck1Device));
    checkDevice(result.deck2DeviceIndex, deck2, read(settings, kDeck2Device));

    FUZZ_CHECK(!encoder.duckingEnabled() && encoder.duckingSourceDeck() == 0);
    const float threshold = encoder.duckingThresholdDb();
    const float ratio = encoder.duckingRatio();
    const float knee = encoder.duckingKneeDb();
    FUZZ_CHECK(std::isfinite(threshold) && threshold >= -60.0f && threshold <= 0.0f);
    FUZZ_CHECK(std::isfinite(ratio) && ratio >= 1.0f && ratio <= 10.0f);
    FUZZ_CHECK(std::isfinite(knee) && knee >= 0.0f && knee <= 20.0f);
    FUZZ_CHECK(encoder.duckingAttackMs() >= 1 && encoder.duckingAttackMs() <= 1000);
    FUZZ_CHECK(encoder.duckingReleaseMs() >= 10 && encoder.duckingReleaseMs() <= 5000);
    if (!result.restoreWindowGeometry) FUZZ_CHECK(result.windowState.isEmpty());
    return 0;
}
