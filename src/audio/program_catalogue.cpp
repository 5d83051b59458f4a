// Which playing programs a deck is offered, and under which names.
#include "audio/program_catalogue.h"

#include <obs.h>

#include <QHash>
#include <QSet>

#include "audio/obs_property_list.h"
#include "core/log_categories.h"
#include "platform/obs_capture.h"

namespace {

constexpr qsizetype kMaxNameLength = 50;

// Shell and desktop-service processes that play short sounds nobody wants to broadcast.
const QSet<QString>& desktopShellExecutables() {
    static const QSet<QString> names{
        // Windows
        QStringLiteral("explorer.exe"), QStringLiteral("applicationframehost.exe"),
        QStringLiteral("systemsettings.exe"), QStringLiteral("searchhost.exe"),
        QStringLiteral("shellexperiencehost.exe"), QStringLiteral("startmenuexperiencehost.exe"),
        QStringLiteral("textinputhost.exe"),
        // Linux desktops
        QStringLiteral("gnome-shell"), QStringLiteral("gsd-media-keys"),
        QStringLiteral("plasmashell"), QStringLiteral("kwin_x11"), QStringLiteral("kwin_wayland"),
        QStringLiteral("xfce4-panel"), QStringLiteral("xfce4-notifyd"), QStringLiteral("cinnamon"),
        QStringLiteral("mate-panel"), QStringLiteral("canberra-gtk-play")};
    return names;
}

const QHash<QString, QString>& friendlyProgramNames() {
    static const QHash<QString, QString> names{
        {QStringLiteral("msedge.exe"), QStringLiteral("Microsoft Edge")},
        {QStringLiteral("chrome.exe"), QStringLiteral("Google Chrome")},
        {QStringLiteral("firefox.exe"), QStringLiteral("Mozilla Firefox")},
        {QStringLiteral("spotify.exe"), QStringLiteral("Spotify")},
        {QStringLiteral("discord.exe"), QStringLiteral("Discord")},
        {QStringLiteral("vlc.exe"), QStringLiteral("VLC Media Player")},
        {QStringLiteral("wmplayer.exe"), QStringLiteral("Windows Media Player")},
        {QStringLiteral("foobar2000.exe"), QStringLiteral("foobar2000")},
        // The executables of the same programs on Linux.
        {QStringLiteral("msedge"), QStringLiteral("Microsoft Edge")},
        {QStringLiteral("chrome"), QStringLiteral("Google Chrome")},
        {QStringLiteral("chromium"), QStringLiteral("Chromium")},
        {QStringLiteral("firefox"), QStringLiteral("Mozilla Firefox")},
        {QStringLiteral("firefox-esr"), QStringLiteral("Mozilla Firefox")},
        {QStringLiteral("spotify"), QStringLiteral("Spotify")},
        {QStringLiteral("discord"), QStringLiteral("Discord")},
        {QStringLiteral("vlc"), QStringLiteral("VLC Media Player")}};
    return names;
}

}  // namespace

QList<CaptureProgram> programsFromListItems(const QList<QPair<QString, QString>>& items) {
    QList<CaptureProgram> programs;
    QSet<QString> seen;
    for (const auto& item : items) {
        const QString& label = item.first;
        const QString& value = item.second;
        if (label.isEmpty() || value.isEmpty()) continue;
        const QStringList parts = value.split(QLatin1Char(':'), Qt::KeepEmptyParts);
        const QString exe = parts.size() >= 3 ? parts.last().toLower() : QString();
        if (desktopShellExecutables().contains(exe)) continue;
        if (!exe.isEmpty() && seen.contains(exe)) continue;

        CaptureProgram program;
        program.window = value;
        if (exe.isEmpty()) {
            program.name = label;
        } else {
            seen.insert(exe);
            const auto known = friendlyProgramNames().constFind(exe);
            if (known != friendlyProgramNames().constEnd()) {
                program.name = *known;
            } else if (label.size() <= kMaxNameLength) {
                program.name = label;
            } else {
                program.name = label.left(kMaxNameLength - 3) + QStringLiteral("...");
            }
        }
        programs.append(program);
    }
    return programs;
}

QList<CaptureProgram> listRunningPrograms() {
    const char* type = platform::obsCaptureTypes().programType;
    if (!obs_source_get_display_name(type)) {
        qCWarning(lcObsAudio) << type << "source type not available";
        return {};
    }
    return programsFromListItems(obsPropertyListItems(type, kObsWindowSetting, false));
}
