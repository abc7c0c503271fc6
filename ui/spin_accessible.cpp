#include "ui/spin_accessible.h"

#include "panel/panel_controls.h"
#include "ui/spin_control.h"

#include <QAccessibleWidget>

namespace relay {
namespace {

class spin_accessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit spin_accessible(spin_control* spin) : QAccessibleWidget(spin, QAccessible::SpinBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return spin()->spin_value(); }
    // A reader that sets the value acts like the arrows: the field follows.
    void setCurrentValue(const QVariant& value) override { spin()->set_spin_value(value.toInt()); }
    QVariant maximumValue() const override { return spin_maximum; }
    QVariant minimumValue() const override { return spin_minimum; }
    QVariant minimumStepSize() const override { return 1; }

private:
    spin_control* spin() const { return static_cast<spin_control*>(widget()); }
};

QAccessibleInterface* make_spin_accessible(const QString&, QObject* object)
{
    if (auto* spin = qobject_cast<spin_control*>(object))
        return new spin_accessible(spin);
    return nullptr;
}

}  // namespace

void install_spin_accessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(make_spin_accessible);
        return true;
    }();
    (void)installed;
}

}  // namespace relay
