#include "ui/dark_title_bar.h"

#include <QWidget>

#include "platform/display.h"

void applyDarkTitleBar(QWidget* window) {
    if (!window || !window->testAttribute(Qt::WA_WState_Created)) return;
    platform::applyDarkTitleBar(static_cast<std::uintptr_t>(window->winId()));
}
