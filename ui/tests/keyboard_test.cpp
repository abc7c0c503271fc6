// The panel without a mouse: Space, Return and Enter press the focused
// button, the arrow keys step the focused spin control, and what they do
// reaches the board as the same frames a click sends.

#include "form_fixture.h"

#include <QApplication>

using namespace relay;
using namespace relay::testing;

namespace {

command_tuple set_relays(std::uint8_t r1, std::uint8_t r2, std::uint8_t r3, std::uint8_t r4)
{
    return command_tuple{code_set_relays, {r1, r2, r3, r4}};
}

// Focus as the Tab key would leave it: the window active, the control
// holding the keyboard.
bool focus(form_fixture& f, QWidget* w)
{
    if (!QTest::qWaitForWindowActive(f.form.get()))
        return false;
    w->setFocus(Qt::TabFocusReason);
    return QTest::qWaitFor([w] { return QApplication::focusWidget() == w; });
}

}  // namespace

class keyboard_test : public QObject {
    Q_OBJECT
private slots:
    void init() { f = std::make_unique<form_fixture>(); }
    void cleanup() { f.reset(); }

    void key_presses_focused_relay_button_data();
    void key_presses_focused_relay_button();
    void key_presses_connect_button_data();
    void key_presses_connect_button();
    void other_keys_press_nothing_data();
    void other_keys_press_nothing();
    void arrow_keys_step_focused_spin_data();
    void arrow_keys_step_focused_spin();

private:
    std::unique_ptr<form_fixture> f;
};

void keyboard_test::key_presses_focused_relay_button_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("key");
    QTest::addColumn<command_tuple>("expected");

    const struct {
        const char* name;
        command_tuple command;
    } buttons[] = {
        {"open_1", set_relays(2, 0, 0, 0)},  {"close_1", set_relays(1, 0, 0, 0)},
        {"open_2", set_relays(0, 2, 0, 0)},  {"close_2", set_relays(0, 1, 0, 0)},
        {"open_3", set_relays(0, 0, 2, 0)},  {"close_3", set_relays(0, 0, 1, 0)},
        {"open_4", set_relays(0, 0, 0, 2)},  {"close_4", set_relays(0, 0, 0, 1)},
        {"openall", set_relays(2, 2, 2, 2)}, {"closeall", set_relays(1, 1, 1, 1)},
    };
    const struct {
        const char* name;
        Qt::Key key;
    } keys[] = {{"Space", Qt::Key_Space}, {"Return", Qt::Key_Return}, {"Enter", Qt::Key_Enter}};
    for (const auto& b : buttons)
        for (const auto& k : keys)
            QTest::addRow("%s %s", b.name, k.name) << QString::fromLatin1(b.name) << int(k.key) << b.command;
}

void keyboard_test::key_presses_focused_relay_button()
{
    QFETCH(QString, button);
    QFETCH(int, key);
    QFETCH(command_tuple, expected);

    QVERIFY(f->connect_panel());
    auto* b = f->form->findChild<QPushButton*>(button);
    QVERIFY(b);
    QVERIFY(focus(*f, b));
    QVERIFY(!f->logic.pending_flag());
    QTest::keyClick(b, Qt::Key(key));
    QVERIFY(f->logic.pending_flag());
    QCOMPARE(f->logic.pending_cmd(), expected);

    f->tick();
    QCOMPARE(f->device.written.back(), encode_command(1, expected));
    // One key press, one command: the next tick asks for the status.
    f->tick();
    QCOMPARE(f->device.written.back(), encode_command(1, status_query));
}

void keyboard_test::key_presses_connect_button_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Space") << int(Qt::Key_Space);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
}

void keyboard_test::key_presses_connect_button()
{
    QFETCH(int, key);

    auto* b = f->w().open_comm;
    QVERIFY(focus(*f, b));
    QTest::keyClick(b, Qt::Key(key));
    QCOMPARE(b->text(), QStringLiteral("disconnect"));
    QVERIFY(f->device.is_open());
    f->tick();
    QCOMPARE(f->device.written.size(), std::size_t{1});
    QCOMPARE(f->device.written.back(), encode_command(1, status_query));

    QTest::keyClick(b, Qt::Key(key));
    QCOMPARE(b->text(), QStringLiteral("connect"));
    QVERIFY(!f->device.is_open());
}

void keyboard_test::other_keys_press_nothing_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("A") << int(Qt::Key_A) << int(Qt::NoModifier);
    QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier);
    QTest::newRow("Ctrl+Return") << int(Qt::Key_Return) << int(Qt::ControlModifier);
    QTest::newRow("Alt+Enter") << int(Qt::Key_Enter) << int(Qt::AltModifier);
}

void keyboard_test::other_keys_press_nothing()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);

    QVERIFY(f->connect_panel());
    auto* b = f->w().open[1];
    QVERIFY(focus(*f, b));
    QTest::keyClick(b, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QVERIFY(!f->logic.pending_flag());
    // The same button still answers its own keys.
    QTest::keyClick(b, Qt::Key_Return);
    QCOMPARE(f->logic.pending_cmd(), set_relays(0, 2, 0, 0));
}

void keyboard_test::arrow_keys_step_focused_spin_data()
{
    QTest::addColumn<QString>("spin");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QString>("field_text");

    QTest::newRow("address up") << "VScroll1" << QList<int>{Qt::Key_Up} << "2";
    QTest::newRow("address up 3") << "VScroll1" << QList<int>{Qt::Key_Up, Qt::Key_Up, Qt::Key_Up} << "4";
    QTest::newRow("address down") << "VScroll1" << QList<int>{Qt::Key_Down} << "0";
    QTest::newRow("address down past 0") << "VScroll1" << QList<int>{Qt::Key_Down, Qt::Key_Down} << "0";
    QTest::newRow("address up and down") << "VScroll1" << QList<int>{Qt::Key_Up, Qt::Key_Up, Qt::Key_Down} << "2";
    QTest::newRow("port up") << "VScroll2" << QList<int>{Qt::Key_Up} << "2";
    QTest::newRow("port down") << "VScroll2" << QList<int>{Qt::Key_Down} << "0";
}

void keyboard_test::arrow_keys_step_focused_spin()
{
    QFETCH(QString, spin);
    QFETCH(QList<int>, keys);
    QFETCH(QString, field_text);

    const bool address = spin == QStringLiteral("VScroll1");
    // Connected for the address, so the next frame shows it; the port is
    // stepped while disconnected and then used to connect.
    if (address)
        QVERIFY(f->connect_panel());
    auto* s = f->form->findChild<spin_control*>(spin);
    QVERIFY(s);
    QVERIFY(focus(*f, s));
    for (const int key : keys)
        QTest::keyClick(s, Qt::Key(key));
    QLineEdit* field = address ? f->w().add : f->w().chuankou_num;
    QCOMPARE(field->text(), field_text);
    QCOMPARE(s->spin_value(), field_text.toInt());

    if (address) {
        f->tick();
        QCOMPARE(f->device.written.back(), encode_command(field_text.toInt(), status_query));
    } else {
        // The second of the catalog's ports; there is no port 0.
        QTest::mouseClick(f->w().open_comm, Qt::LeftButton);
        const std::vector<std::string> opened =
            field_text == QStringLiteral("2") ? std::vector<std::string>{"/dev/ttyS0"} : std::vector<std::string>{};
        QCOMPARE(f->device.opened_paths, opened);
    }
}

QTEST_MAIN(keyboard_test)
#include "keyboard_test.moc"
