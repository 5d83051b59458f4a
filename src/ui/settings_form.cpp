// Building blocks shared by the settings dialog's sections: titled fields, toggle rows, combos.
#include "ui/settings_form.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/widgets/animated_toggle.h"

namespace settingsform {

QLabel* makeLabel(const QString& text, const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    return label;
}

QWidget* makeField(const QString& title, QWidget* control, QWidget* parent, QWidget* titleExtra) {
    auto* field = new QWidget(parent);
    auto* layout = new QVBoxLayout(field);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    QLabel* label = makeLabel(title, QStringLiteral("settingsFieldTitle"), field);
    label->setBuddy(control);
    if (titleExtra) {
        auto* titleRow = new QHBoxLayout;
        titleRow->setSpacing(6);
        titleRow->addWidget(label);
        titleExtra->setParent(field);
        titleRow->addWidget(titleExtra);
        titleRow->addStretch(1);
        layout->addLayout(titleRow);
    } else {
        layout->addWidget(label);
    }
    control->setParent(field);
    layout->addWidget(control);
    if (control->accessibleName().isEmpty()) control->setAccessibleName(title);
    return field;
}

QWidget* makeToggleRow(const QString& text, AnimatedToggle* toggle, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(10);
    toggle->setParent(row);
    toggle->setAccessibleName(text);
    layout->addWidget(toggle);
    layout->addWidget(makeLabel(text, QStringLiteral("settingsToggleLabel"), row), 1);
    return row;
}

void addHeading(QVBoxLayout* layout, const QString& heading, const QString& note, QWidget* parent) {
    layout->addWidget(makeLabel(heading, QStringLiteral("settingsSectionTitle"), parent));
    if (note.isEmpty()) return;
    QLabel* noteLabel = makeLabel(note, QStringLiteral("settingsSectionNote"), parent);
    noteLabel->setWordWrap(true);
    layout->addWidget(noteLabel);
}

QWidget* makePage(QVBoxLayout*& contentLayout) {
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("settingsPage"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab moves between the controls, not onto the page itself.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("settingsPageContent"));
    contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(28, 22, 28, 22);
    contentLayout->setSpacing(14);
    scroll->setWidget(content);
    return scroll;
}

QComboBox* makeCombo(QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QStringLiteral("settingsCombo"));
    return combo;
}

QSpinBox* makeSpinBox(int minimum, int maximum, int value, const QString& suffix, QWidget* parent) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QStringLiteral("streamSpinBox"));
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    spin->setSuffix(suffix);
    return spin;
}

int findByDataOrText(const QComboBox* combo, const QString& value) {
    for (int i = 0; i < combo->count(); ++i) {
        const QVariant data = combo->itemData(i);
        if (data.isValid() && data.toString() == value) return i;
    }
    return combo->findText(value, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

bool selectByData(QComboBox* combo, const QVariant& data) {
    const int index = combo->findData(data);
    if (index < 0) return false;
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(index);
    return true;
}

}  // namespace settingsform
