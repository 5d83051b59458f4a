// Serialized variants removed from the settings file before Qt decodes them.
#pragma once

#include <QString>
#include <QStringList>

namespace settingsfile {

// Removes from the INI file at path every value written as a serialized variant
// ("@Variant(...)") and returns the keys it removed. This application never stores one (its
// values are text, numbers and byte arrays), and Qt decodes one by trusting the sizes inside
// it: a damaged or hand-made value can ask for gigabytes, or for a window-system type, and end
// the application at every start. Main thread, before any QSettings reads the file; a path
// that is not a file (the Windows registry) is left alone.
QStringList removeSerializedVariants(const QString& path);

}  // namespace settingsfile
