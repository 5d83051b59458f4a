// Starting the GStreamer library, once per process.
#include "audio/gst_library.h"

#include <string>

#include <gst/gst.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "audio/mixer_log.h"
#include "platform/gstreamer_runtime.h"

using mixerlog::joined;

namespace gstlibrary {

bool initialize() {
    static bool s_initialized = false;
    if (s_initialized) return true;

    const QString applicationDir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    const platform::GStreamerPluginLayout layout =
        platform::gstreamerPluginLayout(applicationDir.toStdString());
    if (!layout.bundledPluginPath.empty()) {
        const QString pluginPath = QString::fromStdString(layout.bundledPluginPath);
        qputenv("GST_PLUGIN_PATH", pluginPath.toUtf8());
        qputenv("GST_PLUGIN_SYSTEM_PATH", QByteArray(""));
        MIXER_INFO << joined("Using the bundled GStreamer plug-ins in", pluginPath);
    }
    for (const std::string& candidate : layout.scannerCandidates) {
        const QString scanner = QString::fromStdString(candidate);
        if (QFile::exists(scanner)) {
            qputenv("GST_PLUGIN_SCANNER", QFile::encodeName(scanner));
            MIXER_DEBUG << joined("Setting GST_PLUGIN_SCANNER to:", scanner);
            break;
        }
    }
    // Scan plug-ins in-process, into a registry of our own.
    qputenv("GST_REGISTRY_FORK", QByteArray("no"));
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!dataDir.isEmpty()) {
        QDir().mkpath(dataDir);
        const QString registry = dataDir + QStringLiteral("/gst-registry.bin");
        qputenv("GST_REGISTRY", QFile::encodeName(registry));
        MIXER_DEBUG << joined("Setting GST_REGISTRY to:", registry);
    }

    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        MIXER_WARN << joined("Failed to initialize GStreamer:",
                             error && error->message ? QString::fromUtf8(error->message)
                                                     : QStringLiteral("Unknown error"));
        g_clear_error(&error);
        return false;
    }
    gchar* version = gst_version_string();
    MIXER_INFO << joined("GStreamer initialized, version:", QString::fromUtf8(version));
    g_free(version);
    s_initialized = true;
    return true;
}

}  // namespace gstlibrary
