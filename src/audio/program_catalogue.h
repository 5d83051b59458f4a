#pragma once

// The programs playing sound that a deck can capture, named for people: one entry per
// executable, desktop shell sounds left out, well-known programs under their product names.

#include <QList>
#include <QPair>
#include <QString>

// The setting of the program source type that names the program.
inline constexpr char kObsWindowSetting[] = "window";

struct CaptureProgram {
    QString name;    // shown to the user
    QString window;  // libobs's window id; the last ":" field is the executable
};

// The naming and filtering over the program source type's (label, value) list items.
QList<CaptureProgram> programsFromListItems(const QList<QPair<QString, QString>>& items);

// Main thread, libobs running. Asks the sound server: may block up to about 2 s.
QList<CaptureProgram> listRunningPrograms();
