// The list of other programs' windows from which the window-title metadata source is chosen.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QtGlobal>

class QListWidget;

// Modal; a double click or "Select" accepts. Main thread only.
class WindowPickerDialog : public QDialog {
    Q_OBJECT

public:
    struct Entry {
        QString title;
        quintptr handle = 0;  // the native window id
    };

    WindowPickerDialog(const QList<Entry>& entries, QWidget* parent = nullptr);

    // The current entry; false when there is none.
    bool selection(Entry& entry) const;

private:
    QListWidget* m_list = nullptr;
};
