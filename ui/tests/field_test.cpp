// Typing into the address and port fields and stepping them with the real
// arrows of the spin controls.

#include "form_fixture.h"

#include <QApplication>
#include <QClipboard>
#include <QHelpEvent>
#include <QStyleOptionSlider>
#include <QToolTip>

using namespace relay;
using namespace relay::testing;

class field_test : public QObject {
    Q_OBJECT
private slots:
    void init() { f = std::make_unique<form_fixture>(); }
    void cleanup() { f.reset(); }

    void typed_address_is_kept_at_or_below_255_data();
    void typed_address_is_kept_at_or_below_255();
    void typed_address_goes_into_the_next_frame();
    void pasted_address_is_rewritten_when_the_field_already_read_so();
    void arrows_step_within_0_to_15_data();
    void arrows_step_within_0_to_15();
    void up_arrow_is_the_upper_half();
    void arrow_at_its_end_leaves_the_field_alone();
    void spin_steps_from_its_own_value();
    void port_spin_rewrites_disabled_port_field();
    void typed_port_number_is_used_to_connect();
    void keyboard_steps_a_focused_spin();
    void port_tooltip_lists_ports_when_shown();

private:
    std::unique_ptr<form_fixture> f;
};

void field_test::typed_address_is_kept_at_or_below_255_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("after_each_key");

    QTest::newRow("300") << "300" << QStringList{"3", "30", "0"};
    QTest::newRow("255 stands") << "255" << QStringList{"2", "25", "255"};
    QTest::newRow("256") << "256" << QStringList{"2", "25", "0"};
    QTest::newRow("255.5") << "255.5" << QStringList{"2", "25", "255", "255.", "0"};
    QTest::newRow("negative stands") << "-300" << QStringList{"-", "-3", "-30", "-300"};
    QTest::newRow("letters stand") << "ab" << QStringList{"a", "ab"};
}

void field_test::typed_address_is_kept_at_or_below_255()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, after_each_key);

    auto* add = f->w().add;
    add->setFocus();
    QTest::keyClick(add, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(add, Qt::Key_Backspace);
    QCOMPARE(add->text(), QString());
    QCOMPARE(f->logic.controls().add.text, std::string());

    for (int i = 0; i < typed.size(); ++i) {
        QTest::keyClick(add, typed[i].toLatin1());
        const QString& expected = after_each_key[i];
        QCOMPARE(add->text(), expected);
        QCOMPARE(QString::fromStdString(f->logic.controls().add.text), expected);
        // The cursor follows what was typed, or ends up after the "0".
        QCOMPARE(add->cursorPosition(), expected.size());
    }
}

void field_test::pasted_address_is_rewritten_when_the_field_already_read_so()
{
    auto* add = f->w().add;
    add->setFocus();
    QTest::keyClick(add, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(add, QStringLiteral("300"));
    QCOMPARE(add->text(), QStringLiteral("0"));
    // The logic's text stays "0", as painted last; the widget must still
    // lose what was pasted over it.
    QGuiApplication::clipboard()->setText(QStringLiteral("300"));
    QTest::keyClick(add, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(add, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(add->text(), QStringLiteral("0"));
    QCOMPARE(f->logic.controls().add.text, std::string("0"));
    f->tick();
    QCOMPARE(add->text(), QStringLiteral("0"));
}

void field_test::typed_address_goes_into_the_next_frame()
{
    QVERIFY(f->connect_panel());
    auto* add = f->w().add;
    QTest::keyClick(add, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(add, QStringLiteral("42"));
    f->tick();
    QCOMPARE(f->device.written.back(), encode_command(42, status_query));
}

void field_test::arrows_step_within_0_to_15_data()
{
    QTest::addColumn<QString>("spin");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("ups");
    QTest::addColumn<int>("downs");
    QTest::addColumn<int>("expected");

    for (const char* spin : {"VScroll1", "VScroll2"}) {
        const char* field = QByteArray(spin) == "VScroll1" ? "add" : "chuankou_num";
        QTest::addRow("%s up raises", spin) << spin << field << 1 << 0 << 2;
        QTest::addRow("%s down lowers", spin) << spin << field << 0 << 1 << 0;
        QTest::addRow("%s up to 15", spin) << spin << field << 14 << 0 << 15;
        QTest::addRow("%s up stops at 15", spin) << spin << field << 20 << 0 << 15;
        QTest::addRow("%s down stops at 0", spin) << spin << field << 0 << 3 << 0;
        QTest::addRow("%s 15 then down", spin) << spin << field << 16 << 1 << 14;
    }
}

void field_test::arrows_step_within_0_to_15()
{
    QFETCH(QString, spin);
    QFETCH(QString, field);
    QFETCH(int, ups);
    QFETCH(int, downs);
    QFETCH(int, expected);

    auto* s = f->form->findChild<spin_control*>(spin);
    auto* e = f->form->findChild<QLineEdit*>(field);
    QVERIFY(s && e);
    QCOMPARE(s->spin_value(), 1);
    for (int i = 0; i < ups; ++i)
        QTest::mouseClick(s, Qt::LeftButton, {}, form_fixture::up_arrow(s));
    for (int i = 0; i < downs; ++i)
        QTest::mouseClick(s, Qt::LeftButton, {}, form_fixture::down_arrow(s));
    QCOMPARE(s->spin_value(), expected);
    QCOMPARE(e->text(), QString::number(expected));
    const auto& c = f->logic.controls();
    QCOMPARE(spin == "VScroll1" ? c.VScroll1.value : c.VScroll2.value, expected);
}

void field_test::up_arrow_is_the_upper_half()
{
    // The arrow the operator sees at the top is the one that raises the
    // value, and each arrow has half the control to itself.
    for (auto* s : {f->w().VScroll1, f->w().VScroll2}) {
        QStyleOptionSlider option;
        option.initFrom(s);
        option.orientation = Qt::Vertical;
        option.minimum = s->minimum();
        option.maximum = s->maximum();
        option.sliderValue = s->value();
        option.sliderPosition = s->value();
        option.rect = s->rect();
        const QRect raise =
            s->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSubLine, s);
        const QRect lower =
            s->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarAddLine, s);
        QCOMPARE(raise.top(), 0);
        QVERIFY(raise.height() >= 12);
        QVERIFY(lower.height() >= 12);
        QCOMPARE(lower.bottom(), s->height() - 1);
        QVERIFY(raise.contains(form_fixture::up_arrow(s)));
        QVERIFY(lower.contains(form_fixture::down_arrow(s)));
        // Both arrows are drawn: each half has dark pixels of its own.
        const QImage image = s->grab().toImage();
        for (const QRect& half : {raise, lower}) {
            int dark = 0;
            for (int y = half.top(); y <= half.bottom(); ++y)
                for (int x = half.left() + 3; x <= half.right() - 3; ++x)
                    if (qGray(image.pixel(x, y)) < 110)
                        ++dark;
            QVERIFY2(dark >= 12, qPrintable(QString::number(dark)));
        }
    }
}

void field_test::arrow_at_its_end_leaves_the_field_alone()
{
    auto* s = f->w().VScroll1;
    auto* add = f->w().add;
    for (int i = 0; i < 14; ++i)
        QTest::mouseClick(s, Qt::LeftButton, {}, form_fixture::up_arrow(s));
    QCOMPARE(add->text(), QStringLiteral("15"));
    // The field gets other text; an up click at 15 changes no value, so
    // nothing rewrites the field.
    QTest::keyClick(add, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(add, QStringLiteral("200"));
    QTest::mouseClick(s, Qt::LeftButton, {}, form_fixture::up_arrow(s));
    QCOMPARE(add->text(), QStringLiteral("200"));
    QCOMPARE(f->logic.controls().add.text, std::string("200"));

    for (int i = 0; i < 15; ++i)
        QTest::mouseClick(s, Qt::LeftButton, {}, form_fixture::down_arrow(s));
    QCOMPARE(add->text(), QStringLiteral("0"));
    QTest::keyClick(add, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(add, QStringLiteral("7"));
    QTest::mouseClick(s, Qt::LeftButton, {}, form_fixture::down_arrow(s));
    QCOMPARE(add->text(), QStringLiteral("7"));
}

void field_test::spin_steps_from_its_own_value()
{
    auto* add = f->w().add;
    QTest::keyClick(add, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(add, QStringLiteral("200"));
    QTest::mouseClick(f->w().VScroll1, Qt::LeftButton, {}, form_fixture::up_arrow(f->w().VScroll1));
    QCOMPARE(add->text(), QStringLiteral("2"));
}

void field_test::port_spin_rewrites_disabled_port_field()
{
    QVERIFY(f->connect_panel());
    auto* port = f->w().chuankou_num;
    auto* s = f->w().VScroll2;
    QVERIFY(!port->isEnabled());
    QVERIFY(s->isEnabled());
    QTest::mouseClick(s, Qt::LeftButton, {}, form_fixture::up_arrow(s));
    QCOMPARE(port->text(), QStringLiteral("2"));
    QVERIFY(!port->isEnabled());
    QCOMPARE(f->logic.controls().chuankou_num.text, std::string("2"));
    // The port stays as it was until the next connect.
    QCOMPARE(f->device.opened_paths, std::vector<std::string>{"/dev/ttyUSB0"});
    QTest::mouseClick(f->w().open_comm, Qt::LeftButton);
    QVERIFY(f->connect_panel());
    QCOMPARE(f->device.opened_paths.back(), std::string("/dev/ttyS0"));
}

void field_test::typed_port_number_is_used_to_connect()
{
    auto* port = f->w().chuankou_num;
    QTest::keyClick(port, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(port, QStringLiteral("2"));
    QCOMPARE(f->logic.controls().chuankou_num.text, std::string("2"));
    QVERIFY(f->connect_panel());
    QCOMPARE(f->device.opened_paths.back(), std::string("/dev/ttyS0"));
}

void field_test::keyboard_steps_a_focused_spin()
{
    auto* s = f->w().VScroll1;
    s->setFocus();
    QTest::keyClick(s, Qt::Key_Up);
    QCOMPARE(f->w().add->text(), QStringLiteral("2"));
    QTest::keyClick(s, Qt::Key_Down);
    QTest::keyClick(s, Qt::Key_Down);
    QCOMPARE(f->w().add->text(), QStringLiteral("0"));
}

void field_test::port_tooltip_lists_ports_when_shown()
{
    const QPoint inside(5, 5);
    for (const bool connected : {false, true}) {
        if (connected)
            QVERIFY(f->connect_panel());
        for (QWidget* w : {static_cast<QWidget*>(f->w().chuankou_num), static_cast<QWidget*>(f->w().VScroll2)}) {
            f->catalog.entries = {{"/dev/ttyUSB0", "USB serial adapter"}, {"/dev/ttyS0", {}}};
            QHelpEvent first(QEvent::ToolTip, inside, w->mapToGlobal(inside));
            QApplication::sendEvent(w, &first);
            QCOMPARE(w->toolTip(), QStringLiteral("1: /dev/ttyUSB0 (USB serial adapter)\n2: /dev/ttyS0"));
            QTRY_COMPARE(QToolTip::text(), w->toolTip());

            // An adapter comes along: the next tooltip lists it.
            f->catalog.entries.insert(f->catalog.entries.begin(), {"/dev/ttyACM0", "Board"});
            QHelpEvent second(QEvent::ToolTip, inside, w->mapToGlobal(inside));
            QApplication::sendEvent(w, &second);
            QCOMPARE(w->toolTip(),
                     QStringLiteral("1: /dev/ttyACM0 (Board)\n2: /dev/ttyUSB0 (USB serial adapter)\n3: /dev/ttyS0"));
            QToolTip::hideText();
        }
    }
}

QTEST_MAIN(field_test)
#include "field_test.moc"
