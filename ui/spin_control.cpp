#include "ui/spin_control.h"

#include "panel/panel_controls.h"
#include "ui/arrow_pair_style.h"
#include "ui/spin_accessible.h"

namespace relay {

spin_control::spin_control(QWidget* parent)
    : QScrollBar(Qt::Vertical, parent), arrows(std::make_unique<arrow_pair_style>())
{
    install_spin_accessibility();
    setStyle(arrows.get());
    setRange(spin_minimum, spin_maximum);
    setSingleStep(1);
    setPageStep(1);
    // It takes the keyboard like any other control: Up and Down step it.
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QScrollBar::valueChanged, this, [this] { emit spin_changed(spin_value()); });
}

spin_control::~spin_control() { setStyle(nullptr); }

int spin_control::spin_value() const { return spin_maximum + spin_minimum - value(); }

void spin_control::set_spin_value(int value) { setValue(spin_maximum + spin_minimum - value); }

}  // namespace relay
