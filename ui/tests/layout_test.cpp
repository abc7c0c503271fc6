// The window against its layout table: every control's place, size and
// caption, which controls are enabled in each panel state, the keyboard
// order, the fonts, the frame and the icon.

#include "form_fixture.h"
#include "ui/form_look.h"

#include <QApplication>
#include <QFontInfo>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QSet>

using namespace relay;
using namespace relay::testing;

namespace {

// Columns from the first to the last dark pixel, ignoring a frame of
// `border` pixels.
int ink_width(const QImage& image, int border)
{
    int first = image.width();
    int last = -1;
    for (int y = border; y < image.height() - border; ++y)
        for (int x = border; x < image.width() - border; ++x)
            if (qGray(image.pixel(x, y)) < 160) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
    return last - first + 1;
}

}  // namespace

class layout_test : public QObject {
    Q_OBJECT
private slots:
    void init() { f = std::make_unique<form_fixture>(); }
    void cleanup() { f.reset(); }

    void control_has_its_place_and_caption_data();
    void control_has_its_place_and_caption();
    void enabled_states_data();
    void enabled_states();
    void tab_key_visits_controls_in_order_data();
    void tab_key_visits_controls_in_order();
    void focus_starts_in_port_field();
    void labels_never_take_focus();
    void window_is_fixed_dialog_of_416_by_350();
    void fonts_are_the_chosen_face_at_the_given_sizes();
    void captions_fit_their_controls();
    void label_and_field_text_is_black();
    void icon_has_both_sizes_in_16_colours();

private:
    std::unique_ptr<form_fixture> f;
};

void layout_test::control_has_its_place_and_caption_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QString>("caption");

    // Twips, straight from the layout table.
    auto row = [](const char* name, int l, int t, int w, int h, const char* caption) {
        QTest::newRow(name) << QString::fromLatin1(name) << l << t << w << h << QString::fromLatin1(caption);
    };
    row("Label3", 120, 120, 1335, 375, "com port");
    row("chuankou_num", 1680, 120, 375, 375, "1");
    row("VScroll2", 2040, 120, 375, 375, "");
    row("open_comm", 3360, 120, 1935, 375, "connect");
    row("Label5", 120, 1080, 1335, 375, "address");
    row("add", 1680, 1080, 375, 375, "1");
    row("VScroll1", 2040, 1080, 375, 375, "");
    row("Label4", 120, 1800, 1215, 375, "relay 1");
    row("Label2", 120, 2520, 1215, 375, "relay 2");
    row("Label7", 120, 3240, 1215, 375, "relay 3");
    row("Label9", 120, 3960, 1215, 375, "relay 4");
    for (int i = 1; i <= 4; ++i) {
        const int top = 1800 + 720 * (i - 1);
        const QByteArray label = "Label6_" + QByteArray::number(i);
        const QByteArray on = "open_" + QByteArray::number(i);
        const QByteArray off = "close_" + QByteArray::number(i);
        row(label.constData(), 1800, top, 1695, 375, "state");
        row(on.constData(), 3840, top, 975, 375, "on");
        row(off.constData(), 5040, top, 975, 375, "off");
    }
    row("openall", 720, 4680, 1455, 375, "relay all");
    row("closeall", 3360, 4680, 1455, 375, "relay off");
}

void layout_test::control_has_its_place_and_caption()
{
    QFETCH(QString, name);
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QString, caption);

    auto* w = f->form->findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->parentWidget(), f->form.get());
    QCOMPARE(w->geometry(), QRect(left / 15, top / 15, width / 15, height / 15));
    QVERIFY(w->isVisible());
    QCOMPARE(text_of(w), caption);
}

void layout_test::enabled_states_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("enabled");

    QStringList relay_controls{QStringLiteral("openall"), QStringLiteral("closeall")};
    for (int i = 1; i <= 4; ++i)
        relay_controls << QStringLiteral("open_%1").arg(i) << QStringLiteral("close_%1").arg(i)
                       << QStringLiteral("Label6_%1").arg(i);
    const QStringList always{QStringLiteral("add"), QStringLiteral("VScroll1"), QStringLiteral("VScroll2"),
                             QStringLiteral("open_comm")};

    for (const bool connected : {false, true}) {
        const char* state = connected ? "connected" : "disconnected";
        for (const auto& name : relay_controls)
            QTest::addRow("%s %s", state, qPrintable(name)) << connected << name << connected;
        for (const auto& name : always)
            QTest::addRow("%s %s", state, qPrintable(name)) << connected << name << true;
        QTest::addRow("%s chuankou_num", state) << connected << QStringLiteral("chuankou_num") << !connected;
    }
}

void layout_test::enabled_states()
{
    QFETCH(bool, connected);
    QFETCH(QString, name);
    QFETCH(bool, enabled);

    if (connected)
        QVERIFY(f->connect_panel());
    auto* w = f->form->findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->isEnabled(), enabled);
    QCOMPARE(f->w().open_comm->text(), connected ? QStringLiteral("disconnect") : QStringLiteral("connect"));
    for (auto* indicator : f->w().Label6)
        QCOMPARE(indicator->text(), QStringLiteral("state"));
}

void layout_test::tab_key_visits_controls_in_order_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("disconnected") << false
                                  << QStringList{"chuankou_num", "open_comm", "add", "VScroll1", "VScroll2",
                                                 "chuankou_num"};
    QStringList connected{"open_comm", "add", "openall", "closeall"};
    for (int i = 1; i <= 4; ++i)
        connected << QStringLiteral("close_%1").arg(i) << QStringLiteral("open_%1").arg(i);
    connected << "VScroll1" << "VScroll2" << "open_comm";
    QTest::newRow("connected") << true << connected;
}

void layout_test::tab_key_visits_controls_in_order()
{
    QFETCH(bool, connected);
    QFETCH(QStringList, order);

    QVERIFY(QTest::qWaitForWindowActive(f->form.get()));
    if (connected) {
        QVERIFY(f->connect_panel());
        f->w().open_comm->setFocus();
    }
    QTRY_VERIFY(QApplication::focusWidget());
    QCOMPARE(QApplication::focusWidget()->objectName(), order.front());
    for (int i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), order[i]);
    }
}

void layout_test::focus_starts_in_port_field()
{
    QVERIFY(QTest::qWaitForWindowActive(f->form.get()));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->w().chuankou_num));
}

void layout_test::labels_never_take_focus()
{
    const auto labels = f->form->findChildren<QLabel*>();
    QCOMPARE(labels.size(), 10);
    for (auto* label : labels)
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
    // Clicking a live indicator leaves the focus where it was.
    QVERIFY(QTest::qWaitForWindowActive(f->form.get()));
    QVERIFY(f->connect_panel());
    QWidget* before = QApplication::focusWidget();
    QVERIFY(before);
    QTest::mouseClick(f->w().Label6[0], Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), before);
}

void layout_test::window_is_fixed_dialog_of_416_by_350()
{
    auto* form = f->form.get();
    QCOMPARE(form->size(), QSize(416, 350));
    QCOMPARE(form->minimumSize(), QSize(416, 350));
    QCOMPARE(form->maximumSize(), QSize(416, 350));
    const Qt::WindowFlags flags = form->windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(form->isWindow());
    QCOMPARE(form->windowTitle(),
             QStringLiteral("Korvel\u2014\u4E32\u53E3\u63A7\u5236\u7EE7\u7535\u5668\u677F  support@korvel.example"));
    // Asking for more room changes nothing.
    form->resize(600, 500);
    QCOMPARE(form->size(), QSize(416, 350));
}

void layout_test::fonts_are_the_chosen_face_at_the_given_sizes()
{
    const auto& w = f->w();
    const QList<QWidget*> controls{w.Label3,  w.Label5,    w.Label4,   w.Label2,   w.Label7,   w.Label9,
                                   w.Label6[0], w.Label6[3], w.open[0], w.close[3], w.openall, w.closeall,
                                   w.open_comm};
    for (auto* c : controls) {
        QCOMPARE(c->font().pointSizeF(), 15.75);
        QCOMPARE(c->font().weight(), QFont::Normal);
        const QFontInfo info(c->font());
        QCOMPARE(info.family(), QStringLiteral("WenQuanYi Micro Hei"));
        // 15.75 points at 96 dpi.
        QCOMPARE(info.pixelSize(), 21);
    }
    for (auto* field : {w.add, w.chuankou_num}) {
        QCOMPARE(field->font().pointSizeF(), 15.0);
        const QFontInfo info(field->font());
        QCOMPARE(info.family(), QStringLiteral("WenQuanYi Micro Hei"));
        QCOMPARE(info.pixelSize(), 20);
    }
    // The window caption's Chinese needs a face that has it.
    const QFontMetrics metrics(w.Label3->font());
    for (const QChar c : f->form->windowTitle())
        QVERIFY2(metrics.inFont(c), qPrintable(QString(c)));
}

void layout_test::captions_fit_their_controls()
{
    // Every caption, in both states, is no wider than its control and no
    // taller than its 25 pixels.
    QVERIFY(f->connect_panel());
    const auto& w = f->w();
    QList<QWidget*> controls{w.Label3, w.Label5, w.Label4, w.Label2, w.Label7, w.Label9, w.openall, w.closeall,
                             w.open_comm};
    for (int i = 0; i < relay_count; ++i)
        controls << w.Label6[i] << w.open[i] << w.close[i];
    const QStringList captions{QStringLiteral("disconnect"), QStringLiteral("connect"), QStringLiteral("state"),
                               QStringLiteral("on"), QStringLiteral("off")};
    for (auto* c : controls) {
        const QFontMetrics metrics(c->font());
        QStringList texts{text_of(c)};
        if (qobject_cast<clickable_label*>(c))
            texts = QStringList{"state", "on", "off"};
        for (const auto& text : texts) {
            QVERIFY2(metrics.horizontalAdvance(text) <= c->width(), qPrintable(c->objectName() + ": " + text));
            QVERIFY2(metrics.height() <= c->height(), qPrintable(c->objectName()));
        }
    }
    // Both digits of the largest spin value show whole in the narrow
    // field: their ink spans as wide as when drawn with room to spare.
    w.add->setText(QStringLiteral("15"));
    w.add->clearFocus();
    QImage reference(80, 40, QImage::Format_RGB32);
    reference.fill(Qt::white);
    {
        QPainter painter(&reference);
        painter.setFont(w.add->font());
        painter.setPen(Qt::black);
        painter.drawText(QPoint(20, 30), QStringLiteral("15"));
    }
    const int in_field = ink_width(w.add->grab().toImage(), 2);
    const int with_room = ink_width(reference, 0);
    QVERIFY(with_room > 15);
    QVERIFY2(in_field >= with_room - 1, qPrintable(QStringLiteral("%1 of %2").arg(in_field).arg(with_room)));
}

void layout_test::label_and_field_text_is_black()
{
    const auto& w = f->w();
    for (auto* label : f->form->findChildren<QLabel*>())
        if (label->isEnabled())
            QCOMPARE(label->palette().color(QPalette::Active, QPalette::WindowText), QColor(Qt::black));
    for (auto* field : {w.add, w.chuankou_num})
        QCOMPARE(field->palette().color(QPalette::Active, QPalette::Text), QColor(Qt::black));
    QVERIFY(f->connect_panel());
    for (auto* indicator : w.Label6)
        QCOMPARE(indicator->palette().color(QPalette::Active, QPalette::WindowText), QColor(Qt::black));
}

void layout_test::icon_has_both_sizes_in_16_colours()
{
    const QIcon icon = f->form->windowIcon();
    QVERIFY(!icon.isNull());
    const auto sizes = icon.availableSizes();
    QVERIFY(sizes.contains(QSize(16, 16)));
    QVERIFY(sizes.contains(QSize(32, 32)));
    for (const int side : {16, 32}) {
        const QImage image = icon.pixmap(QSize(side, side)).toImage();
        QCOMPARE(image.size(), QSize(side, side));
        QSet<QRgb> colours;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                colours.insert(image.pixel(x, y));
        QVERIFY2(colours.size() <= 16, qPrintable(QString::number(colours.size())));
        // A drawing, not an empty square.
        QVERIFY(colours.size() >= 4);
    }
}

QTEST_MAIN(layout_test)
#include "layout_test.moc"
