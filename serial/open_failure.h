#pragma once
// Why a port would not open, in words an operator can act on, whichever
// way it was opened: the window's Qt port and relayd's own say the same.

#include "serial/serial_device.h"

#include <string>

namespace relay {

enum class open_failure {
    missing,       // no such device
    refused,       // no permission, or another program holds it: told apart here
    already_open,  // this very device object has it open
    other,         // detail says what
};

open_result describe_open_failure(const std::string& device_path, open_failure kind, const std::string& detail = {});

}  // namespace relay
