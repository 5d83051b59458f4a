#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class EncoderSettings;
class QSettings;

// What the main window must do differently from a plain read of the stored settings at start-up.
struct LoadTimeCorrections {
    // The "now playing" source to apply (0 manual, 1 text file, 2 URL, 3 window title); a source
    // that cannot work after a restart has already been reset to manual in the store.
    int metadataSource = 0;
    // Set when the saved text file is gone: tell the user half a second after start-up with
    // missingMetadataFileTitle() / missingMetadataFileText(path).
    QString missingMetadataFile;
    // Position of each deck's saved device among its listed devices, -1 to keep the default.
    int deck1DeviceIndex = -1;
    int deck2DeviceIndex = -1;
    // The state is only worth restoring on top of a restored geometry.
    bool restoreWindowGeometry = false;
    QByteArray windowGeometry;
    QByteArray windowState;
};

// Reads the start-up-sensitive keys, resets "metadata/source" in the store where it cannot work
// (a window title never survives a restart; a file source needs an existing file, a URL source
// a URL), resolves the saved deck devices by exact, case-sensitive display text, and gives the
// encoder settings the stored ducking values whatever the preset (ducking itself off, deck 1 as
// the voice). Main thread only.
LoadTimeCorrections applyLoadTimeCorrections(QSettings& settings, const QStringList& deck1Devices,
                                             const QStringList& deck2Devices,
                                             EncoderSettings& encoderSettings);

// Index of `saved` in `listed` (exact text), or -1; an empty saved name matches nothing.
int savedDeviceIndex(const QStringList& listed, const QString& saved);

QString missingMetadataFileTitle();
QString missingMetadataFileText(const QString& path);
