#pragma once

// The modal list of programs playing sound, from which the user picks the one a deck captures.

#include <QDialog>
#include <QList>

#include <optional>

#include "audio/program_catalogue.h"

class QListWidget;
class QListWidgetItem;

// Main thread only. The first row starts selected; a double-click on a row confirms it.
class AppPickerDialog : public QDialog {
    Q_OBJECT

public:
    AppPickerDialog(const QList<CaptureProgram>& programs, QWidget* parent = nullptr);

    // The selected row's program; nothing when no row is selected.
    std::optional<CaptureProgram> selectedProgram() const;

    // Runs the dialog modally (a nested event loop); nothing when it was cancelled or no row
    // was selected.
    static std::optional<CaptureProgram> pick(const QList<CaptureProgram>& programs,
                                              QWidget* parent);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QList<CaptureProgram> m_programs;
    QListWidget* m_list = nullptr;
};
