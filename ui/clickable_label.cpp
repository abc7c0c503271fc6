#include "ui/clickable_label.h"

#include <QMouseEvent>

namespace relay {

clickable_label::clickable_label(QWidget* parent) : QLabel(parent) {}

void clickable_label::mousePressEvent(QMouseEvent* event)
{
    pressed_inside = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void clickable_label::mouseReleaseEvent(QMouseEvent* event)
{
    // Dragging off the label before letting go cancels the click, as it
    // does on a button.
    const bool was_pressed = pressed_inside && event->button() == Qt::LeftButton;
    pressed_inside = false;
    QLabel::mouseReleaseEvent(event);
    if (was_pressed && rect().contains(event->position().toPoint()))
        emit clicked();
}

}  // namespace relay
