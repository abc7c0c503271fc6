// The window on a screen scaled by 2, as on a large high-density monitor:
// it fills 832 x 700 device pixels, every control sits at twice the place
// its twips give it, and text and icon are drawn at the screen's density
// rather than enlarged from a small picture.

#include "form_fixture.h"

#include <QApplication>

using namespace relay;
using namespace relay::testing;

namespace {

constexpr int scale = 2;

// Twips to device pixels on this screen.
int device(int twips) { return twips * scale / 15; }

QImage rgb(const QPixmap& p) { return p.toImage().convertToFormat(QImage::Format_RGB32); }

// Of the 2 x 2 blocks at even coordinates that hold more than one colour,
// how many are not simply one colour repeated: 0 for a picture enlarged
// pixel by pixel, well above 0 for one drawn at full density.
struct blocks {
    int mixed = 0;
    int total = 0;
};

blocks fine_detail(const QImage& image, const QRect& area)
{
    blocks b;
    for (int y = area.top() & ~1; y + 1 <= area.bottom(); y += 2)
        for (int x = area.left() & ~1; x + 1 <= area.right(); x += 2) {
            const QRgb a = image.pixel(x, y);
            const bool uniform =
                image.pixel(x + 1, y) == a && image.pixel(x, y + 1) == a && image.pixel(x + 1, y + 1) == a;
            ++b.total;
            b.mixed += !uniform;
        }
    return b;
}

// An enlarged copy of an image, each pixel repeated in a 2 x 2 block: what
// a blurry, up-scaled window would show.
QImage doubled(const QImage& image) { return image.scaled(image.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation); }

}  // namespace

class scale_test : public QObject {
    Q_OBJECT
private slots:
    void init() { f = std::make_unique<form_fixture>(); }
    void cleanup() { f.reset(); }

    void window_fills_832_by_700_device_pixels();
    void control_is_drawn_at_twice_its_place_data();
    void control_is_drawn_at_twice_its_place();
    void text_is_drawn_at_full_density();
    void title_bar_icon_is_sharp_at_twice_the_size();

private:
    std::unique_ptr<form_fixture> f;
};

void scale_test::window_fills_832_by_700_device_pixels()
{
    QCOMPARE(f->form->devicePixelRatio(), qreal(scale));
    const QPixmap shot = f->form->grab();
    QCOMPARE(shot.devicePixelRatio(), qreal(scale));
    QCOMPARE(shot.toImage().size(), QSize(832, 700));
    // The layout itself stays in logical pixels: 416 x 350.
    QCOMPARE(f->form->size(), QSize(416, 350));
}

void scale_test::control_is_drawn_at_twice_its_place_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    auto row = [](const char* name, int l, int t, int w, int h) {
        QTest::newRow(name) << QString::fromLatin1(name) << QRect(l, t, w, h);
    };
    row("Label3", 120, 120, 1335, 375);
    row("chuankou_num", 1680, 120, 375, 375);
    row("VScroll2", 2040, 120, 375, 375);
    row("open_comm", 3360, 120, 1935, 375);
    row("Label5", 120, 1080, 1335, 375);
    row("add", 1680, 1080, 375, 375);
    row("VScroll1", 2040, 1080, 375, 375);
    row("Label4", 120, 1800, 1215, 375);
    row("Label9", 120, 3960, 1215, 375);
    row("Label6_1", 1800, 1800, 1695, 375);
    row("Label6_4", 1800, 3960, 1695, 375);
    row("open_1", 3840, 1800, 975, 375);
    row("close_4", 5040, 3960, 975, 375);
    row("openall", 720, 4680, 1455, 375);
    row("closeall", 3360, 4680, 1455, 375);
}

void scale_test::control_is_drawn_at_twice_its_place()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);

    QVERIFY(f->connect_panel());
    auto* w = f->form->findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    const QRect place(device(twips.x()), device(twips.y()), device(twips.width()), device(twips.height()));

    // The control's own picture, at the screen's density...
    const QImage own = rgb(w->grab());
    QCOMPARE(own.size(), place.size());
    // ...is what the window shows there, pixel for pixel, and is not blank.
    // A field and its spin control overlap by one pixel, so the outermost
    // one is left out.
    const QImage window = rgb(f->form->grab());
    int differing = 0;
    QSet<QRgb> colours;
    for (int y = scale; y < place.height() - scale; ++y)
        for (int x = scale; x < place.width() - scale; ++x) {
            colours.insert(own.pixel(x, y));
            differing += own.pixel(x, y) != window.pixel(place.x() + x, place.y() + y);
        }
    QVERIFY2(differing == 0, qPrintable(QStringLiteral("%1 pixels differ").arg(differing)));
    QVERIFY(colours.size() > 2);
}

void scale_test::text_is_drawn_at_full_density()
{
    const QImage window = rgb(f->form->grab());
    const auto& w = f->w();
    for (QWidget* c : QList<QWidget*>{w.Label3, w.Label5, w.Label4, w.open_comm, w.add}) {
        const QRect area(c->x() * scale, c->y() * scale, c->width() * scale, c->height() * scale);
        const blocks detail = fine_detail(window, area);
        // Glyph edges fall on odd device pixels as often as on even ones.
        QVERIFY2(detail.mixed * 10 > detail.total / 10,
                 qPrintable(QStringLiteral("%1: %2 of %3").arg(c->objectName()).arg(detail.mixed).arg(detail.total)));
    }
    // The measure tells an enlarged picture apart: it finds no detail there.
    const QImage blurry = doubled(rgb(w.Label3->grab()).scaled(w.Label3->size()));
    QCOMPARE(fine_detail(blurry, blurry.rect()).mixed, 0);
}

void scale_test::title_bar_icon_is_sharp_at_twice_the_size()
{
    const QIcon icon = f->form->windowIcon();
    for (const int side : {16, 32, 48}) {
        const QPixmap p = icon.pixmap(QSize(side, side));
        QCOMPARE(p.devicePixelRatio(), qreal(scale));
        const QImage image = rgb(p);
        QCOMPARE(image.size(), QSize(side * scale, side * scale));
        if (side == 16)
            continue;  // 32 device pixels: the hand-drawn 32-pixel picture
        // Drawn from the scalable picture, not the small one enlarged. The
        // picture's upright rectangles double cleanly; its round contacts
        // and the slanted switch arm do not.
        const blocks detail = fine_detail(image, image.rect());
        QVERIFY2(detail.mixed * 20 > detail.total,
                 qPrintable(QStringLiteral("%1: %2 of %3").arg(side).arg(detail.mixed).arg(detail.total)));
    }
}

int main(int argc, char** argv)
{
    // Set before the application exists, as a desktop would set it.
    qputenv("QT_SCALE_FACTOR", QByteArray::number(scale));
    QApplication app(argc, argv);
    scale_test test;
    return QTest::qExec(&test, argc, argv);
}

#include "scale_test.moc"
