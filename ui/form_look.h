#pragma once
// The window's fixed look: caption, fonts, colours and icon.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QString>

#include <cstdint>

namespace relay {

// The maker, an em dash and "serial-port controlled relay board", then two
// spaces and where to reach the maker.
QString form_caption();

// Buttons and labels.
QFont control_font();
// The address and port fields.
QFont field_font();

// The light colours every caption was chosen against: black text on a pale
// window and white fields. The window carries them whatever the desktop's
// scheme, since its label and field text stays black.
QPalette form_palette();

// A colour of the form 0x00BBGGRR.
QColor colour_from_bgr(std::uint32_t bgr);

// 16 and 32 pixels in 16 colours, and every larger size drawn from the
// scalable picture, so a title bar on a scaled screen gets a sharp one.
QIcon form_icon();

// Layout positions are given in twips; 15 twips make a pixel at 96 dpi.
constexpr int twips_per_pixel = 15;
constexpr int px(int twips) { return twips / twips_per_pixel; }

}  // namespace relay
