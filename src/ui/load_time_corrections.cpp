#include "ui/load_time_corrections.h"

#include <QSettings>

#include "audio/encoder_settings.h"
#include "core/settings_keys.h"
#include "metadata/metadata_manager.h"

using namespace settingskeys;

LoadTimeCorrections applyLoadTimeCorrections(QSettings& settings, const QStringList& deck1Devices,
                                             const QStringList& deck2Devices,
                                             EncoderSettings& encoderSettings) {
    LoadTimeCorrections result;

    const int storedSource = read(settings, kMetadataSource);
    const QString filePath = read(settings, kMetadataFilePath);
    const MetadataManager::StartupSource startup = MetadataManager::validateStartupSource(
        storedSource, filePath, read(settings, kMetadataUrl));
    result.metadataSource = int(startup.source);
    if (startup.fileNotFound) result.missingMetadataFile = filePath;
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
