#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

class QApplication;

// The look set up at start: palette, font family and style sheet.

void applyApplicationPalette();

struct FontChoice {
    QString family;                 // empty when no Inter was found
    QStringList registeredFonts;    // resource fonts that were registered, in order
    bool fromSystem = false;
};

struct FontSources {
    QString systemFamily = QStringLiteral("Inter");
    QStringList staticFonts = {
        QStringLiteral(":/fonts/Inter-Regular.ttf"), QStringLiteral(":/fonts/Inter-Medium.ttf"),
        QStringLiteral(":/fonts/Inter-SemiBold.ttf"), QStringLiteral(":/fonts/Inter-Bold.ttf")};
    QString variableFont = QStringLiteral(":/fonts/InterVariable.ttf");
};

// A system "Inter" first, then the static resource fonts, then the variable one.
FontChoice chooseInterFont(const FontSources& sources = FontSources());

// The application font for a chosen family ("Segoe UI" when none), with named Linux
// sans-serif families behind it.
QFont applicationFont(const QString& family);

enum class StyleSheetOrigin { Resource, LocalFile, None };

// ":/style.qss", else "resources/style.qss" relative to the working directory.
StyleSheetOrigin loadApplicationStyleSheet(
    QApplication& app, const QString& resourcePath = QStringLiteral(":/style.qss"),
    const QString& localPath = QStringLiteral("resources/style.qss"));
