// The window on desktops with other colour schemes: dark and high
// contrast, set before the window opens or while it is open. Every caption
// must stay legible on the background actually painted behind it, and the
// window must look as it does on a light desktop.

#include "contrast.h"
#include "form_fixture.h"
#include "ui/form_look.h"

#include <QApplication>

using namespace relay;
using namespace relay::testing;

namespace {

QPalette scheme(const QColor& window, const QColor& text, const QColor& base, const QColor& highlight)
{
    QPalette p(text, window, window.lighter(130), window.darker(130), window.darker(110), text, Qt::white, base,
               window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, highlight);
    return p;
}

// A common dark scheme's window, text and field colours.
QPalette dark_scheme() { return scheme(QColor(0x31, 0x36, 0x3b), QColor(0xef, 0xf0, 0xf1), QColor(0x23, 0x26, 0x29), QColor(0x3d, 0xae, 0xe9)); }

QPalette high_contrast_scheme() { return scheme(Qt::black, Qt::white, Qt::black, Qt::yellow); }

QRect inset(const QWidget* w, int by) { return w->geometry().adjusted(by, by, -by, -by); }

// How far inside its geometry a control's text is looked for: fields and
// buttons draw a frame that is not text.
int frame_of(const QWidget* w)
{
    if (qobject_cast<const QLineEdit*>(w))
        return 2;
    if (qobject_cast<const QPushButton*>(w))
        return 3;
    return 0;
}

QImage window_image(const form_fixture& f) { return f.form->grab().toImage().convertToFormat(QImage::Format_RGB32); }

int pixels_near(const QImage& image, const QRect& area, const QColor& wanted)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - wanted.red()) < 40 && std::abs(c.green() - wanted.green()) < 40 &&
                std::abs(c.blue() - wanted.blue()) < 40)
                ++n;
        }
    return n;
}

}  // namespace

class desktop_colours_test : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void text_stands_out_from_what_is_behind_it_data();
    void text_stands_out_from_what_is_behind_it();
    void window_looks_as_on_a_light_desktop_data();
    void window_looks_as_on_a_light_desktop();
    void indicators_keep_green_and_red_on_the_light_background_data();
    void indicators_keep_green_and_red_on_the_light_background();

private:
    void add_scheme_rows();
    // The fixture, with the scheme applied at the moment the row says.
    std::unique_ptr<form_fixture> open_window();

    QPalette desktop_default;
};

void desktop_colours_test::initTestCase()
{
    // A steady text cursor, so that two grabs of a field can be compared.
    QApplication::setCursorFlashTime(0);
    desktop_default = QApplication::palette();
}

void desktop_colours_test::cleanup() { QApplication::setPalette(desktop_default); }

void desktop_colours_test::add_scheme_rows()
{
    QTest::addColumn<QPalette>("desktop");
    QTest::addColumn<bool>("set_while_open");
    for (const bool later : {false, true}) {
        const char* when = later ? "switched while open" : "before the window opens";
        QTest::addRow("light, %s", when) << desktop_default << later;
        QTest::addRow("dark, %s", when) << dark_scheme() << later;
        QTest::addRow("high contrast, %s", when) << high_contrast_scheme() << later;
    }
}

std::unique_ptr<form_fixture> desktop_colours_test::open_window()
{
    QFETCH(QPalette, desktop);
    QFETCH(bool, set_while_open);
    if (!set_while_open)
        QApplication::setPalette(desktop);
    auto f = std::make_unique<form_fixture>();
    // A window of no colours of its own shows when the scheme has reached
    // the open windows, so the row tests what it says.
    QWidget probe;
    probe.show();
    if (set_while_open)
        QApplication::setPalette(desktop);
    if (!QTest::qWaitFor([&] { return probe.palette().color(QPalette::Window) == desktop.color(QPalette::Window); }))
        return nullptr;
    return f;
}

void desktop_colours_test::text_stands_out_from_what_is_behind_it_data() { add_scheme_rows(); }

void desktop_colours_test::text_stands_out_from_what_is_behind_it()
{
    auto f = open_window();
    QVERIFY(f);
    const auto& w = f->w();
    for (const bool connected : {false, true}) {
        if (connected)
            QVERIFY(f->connect_panel());
        // Disconnected, the indicators are greyed out as disabled controls
        // are; connected, they read "state" in black.
        QList<QWidget*> controls{w.Label3, w.Label5, w.Label4, w.Label2, w.Label7, w.Label9,
                                 w.chuankou_num, w.add, w.open_comm, w.openall, w.closeall};
        for (int i = 0; i < relay_count; ++i)
            controls << w.Label6[i] << w.open[i] << w.close[i];
        const QImage image = window_image(*f);
        int measured = 0;
        for (auto* c : controls) {
            if (!c->isEnabled())
                continue;
            ++measured;
            const text_contrast t = measure_text(image, inset(c, frame_of(c)));
            QVERIFY2(t.ratio >= 4.5, qPrintable(QStringLiteral("%1 (%2): %3 on %4, %5:1")
                                                    .arg(c->objectName(), text_of(c), t.ink.name(),
                                                         t.background.name())
                                                    .arg(t.ratio, 0, 'f', 2)));
        }
        QCOMPARE(measured, connected ? 22 : 9);
    }
}

void desktop_colours_test::window_looks_as_on_a_light_desktop_data() { add_scheme_rows(); }

void desktop_colours_test::window_looks_as_on_a_light_desktop()
{
    // Both panel states: connected, the port field is disabled.
    QImage light[2];
    {
        form_fixture reference;
        light[0] = window_image(reference);
        QVERIFY(reference.connect_panel());
        light[1] = window_image(reference);
    }
    auto f = open_window();
    QVERIFY(f);
    for (const bool connected : {false, true}) {
        if (connected)
            QVERIFY(f->connect_panel());
        const QImage now = window_image(*f);
        const QImage& expected = light[connected];
        QCOMPARE(now.size(), QSize(416, 350));
        int differing = 0;
        for (int y = 0; y < now.height(); ++y)
            for (int x = 0; x < now.width(); ++x)
                differing += now.pixel(x, y) != expected.pixel(x, y);
        QVERIFY2(differing == 0, qPrintable(QStringLiteral("%1 pixels differ, %2")
                                                .arg(differing)
                                                .arg(connected ? "connected" : "disconnected")));
    }
}

void desktop_colours_test::indicators_keep_green_and_red_on_the_light_background_data() { add_scheme_rows(); }

void desktop_colours_test::indicators_keep_green_and_red_on_the_light_background()
{
    QColor light_background;
    {
        form_fixture reference;
        light_background = dominant_colour(window_image(reference), reference.w().Label6[0]->geometry());
    }
    QVERIFY(relative_luminance(light_background) > 0.7);

    auto f = open_window();
    QVERIFY(f);
    QVERIFY(f->connect_panel());
    f->board_reports({status_on, status_off, status_off, status_on});
    const QImage image = window_image(*f);
    const QColor green = colour_from_bgr(colour_green);
    const QColor red = colour_from_bgr(colour_red);
    for (int i = 0; i < relay_count; ++i) {
        const bool on = i == 0 || i == 3;
        const QRect area = f->w().Label6[i]->geometry();
        QCOMPARE(dominant_colour(image, area), light_background);
        // Enough pure colour for the strokes of "on" or "off", none of the other.
        QVERIFY2(pixels_near(image, area, on ? green : red) >= 20, qPrintable(f->w().Label6[i]->objectName()));
        QCOMPARE(pixels_near(image, area, on ? red : green), 0);
    }
}

QTEST_MAIN(desktop_colours_test)
#include "desktop_colours_test.moc"
