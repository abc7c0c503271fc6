// The address and port fields hold free text. The address is read afresh
// by every send; the port only at connect time.

#include "panel/panel_controller.h"

#include "panel/board_address.h"
#include "text/number_text.h"

#include <algorithm>

namespace relay {

void panel_controller::set_add_text(const std::string& text)
{
    // The address is the owner's while attached.
    if (owner_attached || text == controls_.add.text)
        return;
    controls_.add.text = text;
    add_Change();
    core.set_address(address_from_text(controls_.add.text));
    notify();
}

void panel_controller::add_Change()
{
    // Only an address above 255 is reset; the board sees nothing it cannot
    // take because the send refuses empty, non-numeric and negative text.
    const auto value = parse_decimal(controls_.add.text);
    if (value && *value > 255) {
        controls_.add.text = "0";
        add_Change();
    }
}

void panel_controller::set_chuankou_num_text(const std::string& text)
{
    if (text == controls_.chuankou_num.text)
        return;
    controls_.chuankou_num.text = text;
    notify();
}

void panel_controller::VScroll1_Change(int value)
{
    if (owner_attached)
        return;
    value = std::clamp(value, spin_minimum, spin_maximum);
    controls_.VScroll1.value = value;
    controls_.add.text = std::to_string(value);
    add_Change();
    core.set_address(address_from_text(controls_.add.text));
    notify();
}

void panel_controller::VScroll2_Change(int value)
{
    value = std::clamp(value, spin_minimum, spin_maximum);
    controls_.VScroll2.value = value;
    // Written even while the field is disabled; it counts at the next connect.
    controls_.chuankou_num.text = std::to_string(value);
    notify();
}

}  // namespace relay
