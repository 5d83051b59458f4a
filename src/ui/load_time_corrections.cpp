#include "ui/load_time_corrections.h"

#include <QFileInfo>
#include <QSettings>

#include "audio/encoder_settings.h"
#include "core/log_categories.h"
#include "core/settings_keys.h"

using namespace settingskeys;

namespace {

// The metadata manager's source numbering, as stored.
constexpr int kSourceManual = 0;
constexpr int kSourceTextFile = 1;
constexpr int kSourceUrl = 2;
constexpr int kSourceWindowTitle = 3;

// Returns the source to use and fills `missingFile` when a saved file has disappeared.
int validatedMetadataSource(const QSettings& settings, QString& missingFile) {
    const int source = read(settings, kMetadataSource);
    switch (source) {
        case kSourceManual:
            return source;
        case kSourceWindowTitle:
            // A window handle does not survive a restart.
            qCInfo(lcMetadata) << "loadSettings: WindowTitle source reset to Manual at startup";
            return kSourceManual;
        case kSourceTextFile: {
            const QString path = read(settings, kMetadataFilePath);
            if (path.isEmpty()) {
                qCInfo(lcMetadata)
                    << "loadSettings: TextFile source has no file path, resetting to Manual";
                return kSourceManual;
            }
            if (!QFileInfo::exists(path)) {
                qCWarning(lcMetadata)
                    << "loadSettings: Metadata file not found, resetting to Manual:" << path;
                missingFile = path;
                return kSourceManual;
            }
            return source;
        }
        case kSourceUrl:
            if (read(settings, kMetadataUrl).isEmpty()) {
                qCInfo(lcMetadata) << "loadSettings: URL source has no URL, resetting to Manual";
                return kSourceManual;
            }
            return source;
        default:
            qCWarning(lcMetadata) << "loadSettings: Unknown metadata source" << source
                                  << "reset to Manual";
            return kSourceManual;
    }
}

}  // namespace

LoadTimeCorrections applyLoadTimeCorrections(QSettings& settings, const QStringList& deck1Devices,
                                             const QStringList& deck2Devices,
                                             EncoderSettings& encoderSettings) {
    LoadTimeCorrections result;

    const int storedSource = read(settings, kMetadataSource);
    result.metadataSource = validatedMetadataSource(settings, result.missingMetadataFile);
    if (result.metadataSource != storedSource) {
        write(settings, kMetadataSource, result.metadataSource);
        settings.sync();
    }

    result.deck1DeviceIndex = savedDeviceIndex(deck1Devices, read(settings, kDeck1Device));
    result.deck2DeviceIndex = savedDeviceIndex(deck2Devices, read(settings, kDeck2Device));

    // The settings dialog shows these only for the custom preset, but the mixer always gets them.
    encoderSettings.setDuckingEnabled(false);
    encoderSettings.setDuckingSourceDeck(0);
    encoderSettings.setDuckingThreshold(static_cast<float>(read(settings, kDuckingThreshold)));
    encoderSettings.setDuckingRatio(static_cast<float>(read(settings, kDuckingRatio)));
    encoderSettings.setDuckingAttack(read(settings, kDuckingAttack));
    encoderSettings.setDuckingRelease(read(settings, kDuckingRelease));
    encoderSettings.setDuckingKnee(static_cast<float>(read(settings, kDuckingKnee)));

    result.restoreWindowGeometry = contains(settings, kWindowGeometry.name);
    if (result.restoreWindowGeometry) {
        result.windowGeometry = read(settings, kWindowGeometry);
        result.windowState = read(settings, kWindowState);
    }
    return result;
}

int savedDeviceIndex(const QStringList& listed, const QString& saved) {
    if (saved.isEmpty()) return -1;
    return static_cast<int>(listed.indexOf(saved));
}

QString missingMetadataFileTitle() { return QStringLiteral("Metadata File Not Found"); }

QString missingMetadataFileText(const QString& path) {
    return QStringLiteral(
               "The saved metadata file was not found:\n%1\n\nMetadata source has been reset to "
               "Manual.")
        .arg(path);
}
