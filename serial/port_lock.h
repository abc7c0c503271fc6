#pragma once
// The lock file a serial port's owner leaves in the system's lock folder
// (/var/lock/LCK..ttyUSB0), in the form Qt's serial port writes and reads:
// the window's port and relayd's each refuse a port the other holds, even
// for root, whom the terminal's exclusive mode does not stop. A lock whose
// process is gone, or is now another program, is stale and taken over.

#include <string>
#include <vector>

namespace relay {

class port_lock {
public:
    // lock_folders: where to look, in order; the first this process may
    // write to is used. Empty: the system's usual ones.
    explicit port_lock(const std::string& device_path, const std::vector<std::string>& lock_folders = {});
    ~port_lock();
    port_lock(const port_lock&) = delete;
    port_lock& operator=(const port_lock&) = delete;

    // False when a live process holds the port's lock. True when it is ours
    // now, and when there is no folder to lock in (the exclusive open then
    // guards the port alone).
    bool try_lock();
    bool is_held() const { return held; }
    const std::string& path() const { return file; }

private:
    bool holder_is_alive() const;

    std::string file;
    bool held = false;
};

}  // namespace relay
