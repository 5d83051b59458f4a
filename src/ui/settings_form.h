// Building blocks shared by the settings dialog's sections: titled fields, toggle rows, combos.
#pragma once

#include <QString>
#include <QVariant>

class AnimatedToggle;
class QComboBox;
class QLabel;
class QSpinBox;
class QVBoxLayout;
class QWidget;

namespace settingsform {

// A field: its title ("settingsFieldTitle") above the control, and `titleExtra` (if any) beside
// the title. The control takes the title as its accessible name unless it has one already.
QWidget* makeField(const QString& title, QWidget* control, QWidget* parent,
                   QWidget* titleExtra = nullptr);
// A toggle with its text beside it; the toggle takes the text as its accessible name.
QWidget* makeToggleRow(const QString& text, AnimatedToggle* toggle, QWidget* parent);
QLabel* makeLabel(const QString& text, const QString& objectName, QWidget* parent);
// A section heading and an optional grey note below it, added to `layout`.
void addHeading(QVBoxLayout* layout, const QString& heading, const QString& note, QWidget* parent);
// A page of the stacked widget that scrolls when its content outgrows the dialog; the returned
// layout is the content's.
QWidget* makePage(QVBoxLayout*& contentLayout);
QComboBox* makeCombo(QWidget* parent);
QSpinBox* makeSpinBox(int minimum, int maximum, int value, const QString& suffix, QWidget* parent);
// The index of the item whose data (compared as text) or, failing that, whose text equals
// `value`; -1 when none does.
int findByDataOrText(const QComboBox* combo, const QString& value);
// Selects the item whose data equals `data` with the combo's signals blocked; false when none.
bool selectByData(QComboBox* combo, const QVariant& data);

}  // namespace settingsform
