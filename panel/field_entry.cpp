// The address and port fields hold free text. The address is read afresh
// by every send; the port only at connect time.

#include "panel/panel_controller.h"

#include "panel/board_address.h"
#include "serial/number_text.h"

#include <algorithm>

namespace relay {

void panel_controller::set_add_text(const std::string& text)
{
    if (text == shown.add.text)
        return;
    shown.add.text = text;
    add_Change();
    core.set_address(address_from_text(shown.add.text));
    notify();
}

void panel_controller::add_Change()
{
    // Only an address above 255 is reset; the board sees nothing it cannot
    // take because the send refuses empty, non-numeric and negative text.
    const auto value = parse_decimal(shown.add.text);
    if (value && *value > 255) {
        shown.add.text = "0";
        add_Change();
    }
}

void panel_controller::set_chuankou_num_text(const std::string& text)
{
    if (text == shown.chuankou_num.text)
        return;
    shown.chuankou_num.text = text;
    notify();
}

void panel_controller::VScroll1_Change(int value)
{
    value = std::clamp(value, spin_minimum, spin_maximum);
    shown.VScroll1.value = value;
    shown.add.text = std::to_string(value);
    add_Change();
    core.set_address(address_from_text(shown.add.text));
    notify();
}

void panel_controller::VScroll2_Change(int value)
{
    value = std::clamp(value, spin_minimum, spin_maximum);
    shown.VScroll2.value = value;
    // Written even while the field is disabled; it counts at the next connect.
    shown.chuankou_num.text = std::to_string(value);
    notify();
}

}  // namespace relay
