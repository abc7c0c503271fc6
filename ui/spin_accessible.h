#pragma once
// The spin control as a screen reader should see it: a spin button whose
// value is the spin value, 0 to 15. Qt would present the scroll bar under
// it, whose value runs the other way (14 when the field shows 1).

namespace relay {

// Makes every spin_control created afterwards present itself so; safe to
// call more than once.
void install_spin_accessibility();

}  // namespace relay
