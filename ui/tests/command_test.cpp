// Clicks on the real relay buttons and indicators: the tuple each one puts
// in the mailbox, the frame the next tick writes, and that a click never
// changes an indicator by itself.

#include "form_fixture.h"
#include "ui/form_look.h"

#include <QEvent>

using namespace relay;
using namespace relay::testing;

namespace {

command_tuple set_relays(std::uint8_t r1, std::uint8_t r2, std::uint8_t r3, std::uint8_t r4)
{
    return command_tuple{code_set_relays, {r1, r2, r3, r4}};
}

// Counts property changes that reach a widget.
struct change_counter : QObject {
    bool eventFilter(QObject*, QEvent* e) override
    {
        switch (e->type()) {
        case QEvent::PaletteChange:
        case QEvent::EnabledChange:
        case QEvent::ToolTipChange:
        case QEvent::FontChange:
            ++changes;
            break;
        default:
            break;
        }
        return false;
    }
    int changes = 0;
};

bool has_colour_near(const QImage& image, const QColor& wanted)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - wanted.red()) < 40 && std::abs(c.green() - wanted.green()) < 40 &&
                std::abs(c.blue() - wanted.blue()) < 40)
                return true;
        }
    return false;
}

}  // namespace

class command_test : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        f = std::make_unique<form_fixture>();
        QVERIFY(f->connect_panel());
    }
    void cleanup() { f.reset(); }

    void button_sends_its_command_data();
    void button_sends_its_command();
    void indicator_toggles_what_it_shows_data();
    void indicator_toggles_what_it_shows();
    void indicator_reading_state_sends_nothing();
    void second_click_in_one_tick_replaces_first();
    void click_never_changes_an_indicator();
    void indicator_colours_are_painted();
    void disconnected_controls_do_not_react();
    void dragging_off_an_indicator_cancels_the_click();
    void tick_without_news_repaints_nothing();
    void indicator_tooltip_comes_from_logic();

private:
    std::unique_ptr<form_fixture> f;
};

void command_test::button_sends_its_command_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<command_tuple>("expected");

    QTest::newRow("on 1") << "open_1" << set_relays(2, 0, 0, 0);
    QTest::newRow("on 2") << "open_2" << set_relays(0, 2, 0, 0);
    QTest::newRow("on 3") << "open_3" << set_relays(0, 0, 2, 0);
    QTest::newRow("on 4") << "open_4" << set_relays(0, 0, 0, 2);
    QTest::newRow("off 1") << "close_1" << set_relays(1, 0, 0, 0);
    QTest::newRow("off 2") << "close_2" << set_relays(0, 1, 0, 0);
    QTest::newRow("off 3") << "close_3" << set_relays(0, 0, 1, 0);
    QTest::newRow("off 4") << "close_4" << set_relays(0, 0, 0, 1);
    QTest::newRow("all on") << "openall" << set_relays(2, 2, 2, 2);
    QTest::newRow("all off") << "closeall" << set_relays(1, 1, 1, 1);
}

void command_test::button_sends_its_command()
{
    QFETCH(QString, button);
    QFETCH(command_tuple, expected);

    auto* b = f->form->findChild<QPushButton*>(button);
    QVERIFY(b);
    QVERIFY(!f->logic.pending_flag());
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(f->logic.pending_flag());
    QCOMPARE(f->logic.pending_cmd(), expected);

    const auto sent_before = f->device.written.size();
    f->tick();
    QCOMPARE(f->device.written.size(), sent_before + 1);
    QCOMPARE(f->device.written.back(), encode_command(1, expected));
    // Sent once: the tick after that asks for the status again.
    f->tick();
    QCOMPARE(f->device.written.back(), encode_command(1, status_query));
}

void command_test::indicator_toggles_what_it_shows_data()
{
    QTest::addColumn<int>("relay");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<command_tuple>("expected");

    for (int relay = 1; relay <= 4; ++relay) {
        command_tuple on = set_relays(0, 0, 0, 0);
        on.actions[static_cast<std::size_t>(relay - 1)] = action_on;
        command_tuple off = set_relays(0, 0, 0, 0);
        off.actions[static_cast<std::size_t>(relay - 1)] = action_off;
        QTest::addRow("relay %d shown off", relay) << relay << int(status_off) << "off" << on;
        QTest::addRow("relay %d shown on", relay) << relay << int(status_on) << "on" << off;
    }
}

void command_test::indicator_toggles_what_it_shows()
{
    QFETCH(int, relay);
    QFETCH(int, status);
    QFETCH(QString, shown);
    QFETCH(command_tuple, expected);

    // The other relays report the opposite, so a click on the wrong
    // indicator would send a different command.
    const std::uint8_t other = status == status_on ? status_off : status_on;
    std::array<std::uint8_t, relay_count> statuses{other, other, other, other};
    statuses[static_cast<std::size_t>(relay - 1)] = static_cast<std::uint8_t>(status);
    f->board_reports(statuses);
    auto* indicator = f->w().Label6[static_cast<std::size_t>(relay - 1)];
    QCOMPARE(indicator->text(), shown);

    QTest::mouseClick(indicator, Qt::LeftButton);
    QVERIFY(f->logic.pending_flag());
    QCOMPARE(f->logic.pending_cmd(), expected);
    f->tick();
    QCOMPARE(f->device.written.back(), encode_command(1, expected));
}

void command_test::indicator_reading_state_sends_nothing()
{
    for (auto* indicator : f->w().Label6) {
        QCOMPARE(indicator->text(), QStringLiteral("state"));
        QVERIFY(indicator->isEnabled());
        QTest::mouseClick(indicator, Qt::LeftButton);
        QVERIFY(!f->logic.pending_flag());
    }
    f->tick();
    QCOMPARE(f->device.written.back(), encode_command(1, status_query));
}

void command_test::second_click_in_one_tick_replaces_first()
{
    QTest::mouseClick(f->w().open[0], Qt::LeftButton);
    QTest::mouseClick(f->w().close[2], Qt::LeftButton);
    f->tick();
    QCOMPARE(f->device.written.back(), encode_command(1, set_relays(0, 0, 1, 0)));
    for (const auto& sent : f->device.written)
        QVERIFY(sent != encode_command(1, set_relays(2, 0, 0, 0)));
    f->tick();
    QCOMPARE(f->device.written.back(), encode_command(1, status_query));
}

void command_test::click_never_changes_an_indicator()
{
    f->board_reports({status_off, status_on, status_off, status_on});
    const auto& w = f->w();
    QCOMPARE(w.Label6[0]->text(), QStringLiteral("off"));
    const QColor red = colour_from_bgr(colour_red);
    QCOMPARE(w.Label6[0]->palette().color(QPalette::Active, QPalette::WindowText), red);

    QTest::mouseClick(w.open[0], Qt::LeftButton);
    QTest::mouseClick(w.Label6[0], Qt::LeftButton);
    QTest::mouseClick(w.openall, Qt::LeftButton);
    f->tick();
    QCOMPARE(w.Label6[0]->text(), QStringLiteral("off"));
    QCOMPARE(w.Label6[0]->palette().color(QPalette::Active, QPalette::WindowText), red);
    QCOMPARE(w.Label6[1]->text(), QStringLiteral("on"));

    // Only the board's answer turns it.
    f->board_reports({status_on, status_on, status_on, status_on});
    QCOMPARE(w.Label6[0]->text(), QStringLiteral("on"));
    QCOMPARE(w.Label6[0]->palette().color(QPalette::Active, QPalette::WindowText),
             colour_from_bgr(colour_green));
}

void command_test::indicator_colours_are_painted()
{
    f->board_reports({status_on, status_off, status_on, status_off});
    const auto& w = f->w();
    const QColor green = colour_from_bgr(colour_green);
    const QColor red = colour_from_bgr(colour_red);
    QCOMPARE(green, QColor(0, 255, 0));
    QCOMPARE(red, QColor(255, 0, 0));
    for (int i = 0; i < relay_count; ++i) {
        const QImage image = w.Label6[i]->grab().toImage();
        const bool on = i % 2 == 0;
        QVERIFY2(has_colour_near(image, on ? green : red), qPrintable(w.Label6[i]->objectName()));
        QVERIFY(!has_colour_near(image, on ? red : green));
    }
    // The board falls silent: after the watchdog the indicators read
    // "state" in black again.
    f->tick(6);
    for (auto* indicator : w.Label6) {
        QCOMPARE(indicator->text(), QStringLiteral("state"));
        const QImage image = indicator->grab().toImage();
        QVERIFY(!has_colour_near(image, green));
        QVERIFY(!has_colour_near(image, red));
        QVERIFY(has_colour_near(image, Qt::black));
    }
}

void command_test::disconnected_controls_do_not_react()
{
    f->board_reports({status_off, status_off, status_off, status_off});
    QTest::mouseClick(f->w().open_comm, Qt::LeftButton);
    QCOMPARE(f->w().open_comm->text(), QStringLiteral("connect"));
    const auto& w = f->w();
    QList<QWidget*> controls{w.openall, w.closeall};
    for (int i = 0; i < relay_count; ++i)
        controls << w.open[i] << w.close[i] << w.Label6[i];
    for (auto* c : controls) {
        QVERIFY(!c->isEnabled());
        QTest::mouseClick(c, Qt::LeftButton);
        QVERIFY2(!f->logic.pending_flag(), qPrintable(c->objectName()));
    }
}

void command_test::dragging_off_an_indicator_cancels_the_click()
{
    f->board_reports({status_off, status_off, status_off, status_off});
    auto* indicator = f->w().Label6[1];
    QTest::mousePress(indicator, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(indicator, Qt::LeftButton, {}, QPoint(5, indicator->height() + 20));
    QVERIFY(!f->logic.pending_flag());
    QTest::mousePress(indicator, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(indicator, Qt::LeftButton, {}, QPoint(8, 8));
    QCOMPARE(f->logic.pending_cmd(), set_relays(0, 2, 0, 0));
}

void command_test::tick_without_news_repaints_nothing()
{
    // The board answers every query with the same statuses: after the
    // first answer, nothing the window shows changes.
    f->board_reports({status_on, status_off, status_on, status_off});
    f->tick();
    change_counter counter;
    for (auto* child : f->form->findChildren<QWidget*>())
        child->installEventFilter(&counter);
    f->w().add->setFocus();
    f->w().add->setSelection(0, 1);
    for (int i = 0; i < 10; ++i) {
        f->board_reports({status_on, status_off, status_on, status_off});
        f->tick();
    }
    QCOMPARE(counter.changes, 0);
    // The operator's selection in the address field survives the ticks.
    QCOMPARE(f->w().add->selectedText(), QStringLiteral("1"));
}

void command_test::indicator_tooltip_comes_from_logic()
{
    const auto& w = f->w();
    for (int i = 0; i < relay_count; ++i) {
        QVERIFY(!w.Label6[i]->toolTip().isEmpty());
        QCOMPARE(w.Label6[i]->toolTip(), QString::fromStdString(f->logic.controls().Label6[i].tooltip));
    }
    const QString before = w.Label6[2]->toolTip();
    f->board_reports({status_on, status_on, status_off, status_on});
    QVERIFY(w.Label6[2]->toolTip() != before);
    QCOMPARE(w.Label6[2]->toolTip(), QString::fromStdString(f->logic.controls().Label6[2].tooltip));
}

QTEST_MAIN(command_test)
#include "command_test.moc"
