#pragma once
// What a screen reader says for each control. A sighted operator reads a
// row left to right, "relay 2 ... on"; a screen reader lands on one control
// at a time, so each name says which relay or field it belongs to.

#include <QString>

namespace relay {

struct main_form_widgets;

// Names and descriptions that never change. The connect button keeps no
// name of its own: its caption, "connect" or "disconnect", is its name.
void describe_controls(const main_form_widgets& ui);

// The indicator's name carries what it shows, so that a change is spoken
// without the reader having to look for it: "relay 2 state: on".
QString indicator_name(int relay, const QString& caption);

}  // namespace relay
