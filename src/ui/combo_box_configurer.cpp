#include "ui/combo_box_configurer.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QListView>

namespace {
constexpr char kOwnerProperty[] = "_ownerCombo";
constexpr char kConfiguredProperty[] = "_comboConfigured";
constexpr int kMaxVisibleItems = 50;
}  // namespace

void ComboBoxConfigurer::configure(QComboBox* combo) {
    combo->setMaxVisibleItems(kMaxVisibleItems);
    QAbstractItemView* view = combo->view();
    if (!view) return;
    view->setAutoScroll(false);
    if (auto* list = qobject_cast<QListView*>(view)) list->setSpacing(4);
    QFont font = view->font();
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::PreferQuality));
    view->setFont(font);

    QWidget* container = view->parentWidget();
    if (!container) return;
    container->setProperty(kOwnerProperty, QVariant::fromValue(static_cast<QObject*>(combo)));
    if (!container->property(kConfiguredProperty).toBool()) {
        container->setProperty(kConfiguredProperty, true);
        container->installEventFilter(this);
    }
}

bool ComboBoxConfigurer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Polish) {
        if (auto* combo = qobject_cast<QComboBox*>(watched)) configure(combo);
    } else if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* popup = static_cast<QWidget*>(watched);
        const QVariant owner = popup->property(kOwnerProperty);
        if (owner.isValid()) {
            auto* combo = qobject_cast<QComboBox*>(owner.value<QObject*>());
            if (combo && combo->isVisible()) {
                popup->move(combo->mapToGlobal(QPoint(0, combo->height())));
                popup->setMinimumWidth(combo->width());
            }
        }
    }
    return QObject::eventFilter(watched, event);
}
