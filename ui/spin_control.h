#pragma once
// A vertical scroll bar used as an up/down arrow pair beside a number field:
// 0 to 15, the up arrow raises the value. A scroll bar keeps its minimum at
// the top, so the bar runs on the mirrored value and this class turns it
// the right way round; everything outside sees only the spin value.

#include <QScrollBar>

#include <memory>

namespace relay {

class spin_control : public QScrollBar {
    Q_OBJECT
public:
    explicit spin_control(QWidget* parent = nullptr);
    ~spin_control() override;

    int spin_value() const;
    void set_spin_value(int value);

signals:
    void spin_changed(int value);

private:
    std::unique_ptr<QStyle> arrows;
};

}  // namespace relay
