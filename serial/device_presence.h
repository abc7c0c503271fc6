#pragma once
// Whether an open serial device is really gone. A read that finds nothing is
// no proof: when the input is discarded between the kernel saying that
// bytes wait and the read that follows, a terminal read returns 0, just as
// it does on a hung-up line, and Qt reports that as a read error with
// whatever errno an earlier call left behind. The device's own state
// decides: a hang-up or error on the descriptor, or the device node gone or
// replaced by another device.

#include <optional>
#include <string>

namespace relay {

// Why the device open on fd is gone, in plain words; nothing while it is
// still there. Never blocks.
std::optional<std::string> device_gone_reason(int fd, const std::string& device_path);

}  // namespace relay
