#pragma once

#include <QObject>

class QComboBox;

// Application-wide event filter: every combo box shows up to 50 items, and its popup opens right
// below the box and at least as wide as it. Events always continue to their default handling.
class ComboBoxConfigurer : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void configure(QComboBox* combo);
};
