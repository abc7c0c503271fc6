#pragma once
// Legibility of text as painted, measured on grabbed pixels: the WCAG
// contrast ratio between the background a control shows and its darkest or
// brightest ink.

#include <QColor>
#include <QHash>
#include <QImage>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <vector>

namespace relay::testing {

// WCAG 2 relative luminance of an sRGB colour.
inline double relative_luminance(const QColor& c)
{
    auto linear = [](int channel) {
        const double v = channel / 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
}

inline double contrast_ratio(const QColor& a, const QColor& b)
{
    const double la = relative_luminance(a);
    const double lb = relative_luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour most pixels of the area have: behind a caption, its background.
inline QColor dominant_colour(const QImage& image, const QRect& area)
{
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) | 0xFF000000u];
    QRgb best = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    return QColor::fromRgb(best);
}

struct text_contrast {
    QColor background;
    QColor ink;
    double ratio = 1.0;
};

// The ink is taken as the pixel that stands out most from the background,
// after the `ignored` most extreme ones, so that a stray pixel of a frame
// corner cannot pass for text.
inline text_contrast measure_text(const QImage& image, const QRect& area, int ignored = 4)
{
    text_contrast result;
    result.background = dominant_colour(image, area);
    std::vector<std::pair<double, QRgb>> pixels;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = QColor::fromRgb(image.pixel(x, y));
            pixels.emplace_back(contrast_ratio(c, result.background), c.rgb());
        }
    std::sort(pixels.begin(), pixels.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    const auto& chosen = pixels[std::min<std::size_t>(static_cast<std::size_t>(ignored), pixels.size() - 1)];
    result.ratio = chosen.first;
    result.ink = QColor::fromRgb(chosen.second);
    return result;
}

}  // namespace relay::testing
