#pragma once
// Which event loop the programs run on. Called first thing in main(), before
// the application object exists, since that is when Qt picks its
// dispatcher.

#include <QtGlobal>

namespace relay {

// Qt's own poll(2) dispatcher rather than GLib's main context: the loop
// only watches descriptors and timers, and GLib's prepare/check/dispatch
// rounds cost more CPU on every wake-up than the rest of a poll tick.
// Nothing here needs GLib's loop (no GTK dialogs, no GLib sources).
inline void use_qt_event_dispatcher() { qputenv("QT_NO_GLIB", "1"); }

}  // namespace relay
