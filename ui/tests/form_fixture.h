#pragma once
// The real window over the real panel logic, on an in-memory port. The test
// steps the poll tick itself, so nothing depends on wall-clock timing.

#include "fake_panel.h"
#include "panel/panel_controller.h"
#include "ui/clickable_label.h"
#include "ui/main_form.h"
#include "ui/spin_control.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace relay::testing {

struct form_fixture {
    form_fixture()
    {
        form = std::make_unique<main_form>(logic, catalog);
        form->show();
        form->activateWindow();
    }

    const main_form_widgets& w() const { return form->widgets(); }

    // The operator clicks "connect"; false if the panel did not connect.
    bool connect_panel()
    {
        QTest::mouseClick(w().open_comm, Qt::LeftButton);
        return w().open_comm->text() == QStringLiteral("disconnect") && device.is_open();
    }

    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            logic.Timer1_Timer();
    }

    // The board reports these relay statuses (1 off, 2 on).
    void board_reports(std::array<std::uint8_t, relay_count> statuses)
    {
        device.arrive(encode_status(1, code_status_query, statuses));
    }

    // The spin control's arrows, where the operator sees them.
    static QPoint up_arrow(const spin_control* s) { return {s->width() / 2, s->height() / 4}; }
    static QPoint down_arrow(const spin_control* s) { return {s->width() / 2, s->height() * 3 / 4}; }

    fake_panel panel;
    fake_serial_device& device = panel.device;
    fake_port_catalog& catalog = panel.catalog;
    panel_controller& logic = panel.logic;
    std::unique_ptr<main_form> form;
};

inline QString text_of(const QWidget* w)
{
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<const QLineEdit*>(w))
        return e->text();
    return {};
}

}  // namespace relay::testing

// Lets QCOMPARE print a command tuple when it differs.
namespace QTest {
template <>
inline char* toString(const relay::command_tuple& c)
{
    return qstrdup(QByteArray::number(c.code)
                       .append(" ")
                       .append(QByteArray::number(c.actions[0]))
                       .append(" ")
                       .append(QByteArray::number(c.actions[1]))
                       .append(" ")
                       .append(QByteArray::number(c.actions[2]))
                       .append(" ")
                       .append(QByteArray::number(c.actions[3]))
                       .constData());
}
template <>
inline char* toString(const relay::frame& f)
{
    return qstrdup(QByteArray(reinterpret_cast<const char*>(f.data()), static_cast<int>(f.size())).toHex(' '));
}
}  // namespace QTest

Q_DECLARE_METATYPE(relay::command_tuple)
