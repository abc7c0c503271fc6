#include "ui/keyboard_button.h"

#include <QKeyEvent>

namespace relay {

keyboard_button::keyboard_button(const QString& caption, QWidget* parent) : QPushButton(caption, parent)
{
    // An auto-default button reserves a frame for the default mark, which
    // the narrow relay buttons have no room for.
    setAutoDefault(false);
}

void keyboard_button::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // A held key repeats; one press is one command.
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

}  // namespace relay
