#pragma once
// A push button that Enter and Return press as well as Space. Qt leaves
// Enter to a dialog's default button, and the panel has none: every button
// is a command of equal rank, so Enter acts on the focused one.

#include <QPushButton>

namespace relay {

class keyboard_button : public QPushButton {
    Q_OBJECT
public:
    explicit keyboard_button(const QString& caption, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace relay
