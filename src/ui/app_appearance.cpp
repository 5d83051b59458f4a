#include "ui/app_appearance.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QPalette>

#include "core/log_categories.h"

void applyApplicationPalette() {
    QPalette palette;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, Qt::white);
        palette.setColor(group, QPalette::WindowText, Qt::black);
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::AlternateBase, QColor(240, 240, 240));
        palette.setColor(group, QPalette::Text, Qt::black);
        palette.setColor(group, QPalette::Button, QColor(240, 240, 240));
        palette.setColor(group, QPalette::ButtonText, Qt::black);
    }
    QApplication::setPalette(palette);
}

FontChoice chooseInterFont(const FontSources& sources) {
    FontChoice choice;
    if (QFontDatabase::families().contains(sources.systemFamily)) {
        choice.family = sources.systemFamily;
        choice.fromSystem = true;
        qCInfo(lcMain) << "Using system-installed Inter font";
        return choice;
    }

    for (const QString& path : sources.staticFonts) {
        const int id = QFontDatabase::addApplicationFont(path);
        if (id < 0) {
            qCWarning(lcMain) << "Failed to load font:" << path;
            continue;
        }
        choice.registeredFonts << path;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        qCDebug(lcMain) << "Loaded font:" << path << "families:" << families;
        if (choice.family.isEmpty() && !families.isEmpty()) choice.family = families.first();
    }
    if (!choice.family.isEmpty()) {
        qCInfo(lcMain) << "Using Inter (static) family:" << choice.family;
        return choice;
    }

    const int id = QFontDatabase::addApplicationFont(sources.variableFont);
    if (id >= 0) {
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty()) {
            choice.registeredFonts << sources.variableFont;
            choice.family = families.first();
            qCInfo(lcMain) << "Loaded Inter (variable) families:" << families
                           << "using:" << choice.family;
        }
    }
    return choice;
}

QFont applicationFont(const QString& family) {
    QFont font(family.isEmpty() ? QStringLiteral("Segoe UI") : family, 10);
    // Without Inter or Segoe UI (a Linux desktop without fonts-inter), named sans-serif families
    // rather than whatever the font configuration matches first.
    font.setFamilies({font.family(), QStringLiteral("Noto Sans"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::PreferQuality));
    if (family.isEmpty()) qCDebug(lcMain) << "Using Segoe UI as fallback for Windows";
    return font;
}

StyleSheetOrigin loadApplicationStyleSheet(QApplication& app, const QString& resourcePath,
                                           const QString& localPath) {
    QFile resource(resourcePath);
    if (resource.open(QIODevice::ReadOnly | QIODevice::Text)) {
        app.setStyleSheet(QString::fromUtf8(resource.readAll()));
        qCDebug(lcMain) << "Loaded stylesheet from resources";
        return StyleSheetOrigin::Resource;
    }
    qCInfo(lcMain) << "Could not load stylesheet from resources, trying local file...";
    QFile local(localPath);
    if (local.open(QIODevice::ReadOnly | QIODevice::Text)) {
        app.setStyleSheet(QString::fromUtf8(local.readAll()));
        qCDebug(lcMain) << "Loaded stylesheet from local file";
        return StyleSheetOrigin::LocalFile;
    }
    return StyleSheetOrigin::None;
}
