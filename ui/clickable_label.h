#pragma once
// A label that reports a click the way a button does: press and release of
// the left button inside it. A disabled label gets no mouse events, so it
// never reports one.

#include <QLabel>

namespace relay {

class clickable_label : public QLabel {
    Q_OBJECT
public:
    explicit clickable_label(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_inside = false;
};

}  // namespace relay
