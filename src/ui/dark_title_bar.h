#pragma once

class QWidget;

// Every top-level window and dialog calls this once it is laid out.
void applyDarkTitleBar(QWidget* window);
