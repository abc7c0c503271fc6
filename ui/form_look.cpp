#include "ui/form_look.h"

#include <QImageReader>
#include <QStyle>
#include <QStyleFactory>

#include <memory>

// The icons live in this static library; nothing else references their
// registration, so the linker would drop it unless it is called by name.
static void load_icon_resources() { Q_INIT_RESOURCE(icons); }

namespace relay {
namespace {

// Covers both the Latin captions and the Chinese window caption, and ships
// with the common Linux distributions.
const char* const face = "WenQuanYi Micro Hei";

QFont font_at(qreal points)
{
    QFont f(QString::fromLatin1(face));
    f.setPointSizeF(points);
    f.setWeight(QFont::Normal);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

}  // namespace

QString form_caption()
{
    return QStringLiteral("Korvel\u2014\u4E32\u53E3\u63A7\u5236\u7EE7\u7535\u5668\u677F  support@korvel.example");
}

QFont control_font() { return font_at(15.75); }

QFont field_font() { return font_at(15.0); }

QPalette form_palette()
{
    // Fusion's own palette is the one the window shows on a desktop with no
    // colour scheme, and Fusion is built into every Qt.
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return fusion->standardPalette();
}

QColor colour_from_bgr(std::uint32_t bgr)
{
    return QColor(static_cast<int>(bgr & 0xFFu), static_cast<int>((bgr >> 8) & 0xFFu),
                  static_cast<int>((bgr >> 16) & 0xFFu));
}

QIcon form_icon()
{
    load_icon_resources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/relay-panel-16.xpm"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/relay-panel-32.xpm"), QSize(32, 32));
    // Drawn now rather than on demand, because the window system takes the
    // title bar's icon as a list of fixed sizes. Without Qt's SVG image
    // plugin the reader fails and the two small sizes serve alone.
    for (const int side : {48, 64, 96, 128, 256}) {
        QImageReader reader(QStringLiteral(":/icons/relay-panel.svg"));
        reader.setScaledSize(QSize(side, side));
        const QImage image = reader.read();
        if (image.isNull())
            break;
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

}  // namespace relay
