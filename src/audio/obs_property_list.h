#pragma once

// The items of a libobs source type's list property (its devices, its programs), read as
// (label, value) pairs.

#include <QList>
#include <QPair>
#include <QString>

// Main thread, libobs running. Empty when the type is not registered or has no such list
// property; `verbose` traces each step and says why nothing was found. May block briefly: the
// source type asks its sound server.
QList<QPair<QString, QString>> obsPropertyListItems(const char* sourceType, const char* property,
                                                    bool verbose);
