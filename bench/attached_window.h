#pragma once
// The real window attached to relayd, which owns a simulated board: relayd a
// child process, the window offscreen with its session on a thread of its
// own and a client of relayd's control socket, as relay-panel makes them.

#include "bench/stats.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace relay::bench {

struct attached_window_plan {
    // Undisturbed, for the CPU figures.
    std::chrono::milliseconds idle_span{10000};
    int clicks = 40;
    int status_samples = 40;
};

struct attached_window_figures {
    // Why nothing was measured; empty when the window attached.
    std::string failed;
    // From a click on "on" or "off" until the board has read relayd's set frame.
    summary click_to_wire;
    int clicks = 0;
    // From a status frame that flips relay 1 put on the line until the
    // window has painted indicator 1 with it.
    summary status_to_screen;
    std::size_t statuses_written = 0;
    // CPU over the idle span, in seconds: the attached window's session
    // thread, the window's thread (only this window connected), and relayd.
    double session_cpu = 0;
    double window_cpu = 0;
    double relayd_cpu = 0;
    double minutes = 0;
};

// Points XDG_RUNTIME_DIR at a new folder of the run's own, where relayd
// serves its socket and the window looks for it. Call before any thread is
// started; the folder is returned for remove_runtime_folder().
std::string use_own_runtime_folder();
void remove_runtime_folder(const std::string& folder);

// Must run on the application's thread, with no other window connected.
attached_window_figures measure_attached_window(const attached_window_plan& plan, const std::string& runtime_folder);

}  // namespace relay::bench
