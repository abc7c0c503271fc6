#include "fake_serial_device.h"

namespace relay::testing {

open_result fake_serial_device::open(const std::string& device_path)
{
    for (const auto& refused : refuse)
        if (refused.path == device_path)
            return open_result::failure(refused.reason, refused.holders);
    opened_paths.push_back(device_path);
    open_now = true;
    return open_result::success();
}

void fake_serial_device::close()
{
    open_now = false;
    incoming.clear();
}

void fake_serial_device::discard_input()
{
    ++discards;
    bytes_discarded += incoming.size();
    incoming.clear();
}

bool fake_serial_device::write(const frame& bytes)
{
    if (!open_now || write_fails)
        return false;
    written.push_back(bytes);
    return true;
}

int fake_serial_device::read_byte()
{
    if (incoming.empty())
        return -1;
    const int value = incoming.front();
    incoming.pop_front();
    return value;
}

void fake_serial_device::arrive(const std::vector<std::uint8_t>& bytes)
{
    if (!open_now)
        return;
    incoming.insert(incoming.end(), bytes.begin(), bytes.end());
    if (receiver && !bytes.empty())
        receiver->bytes_received();
}

void fake_serial_device::unplug(const std::string& reason)
{
    if (!open_now)
        return;
    close();
    if (receiver)
        receiver->link_lost(reason);
}

}  // namespace relay::testing
