#pragma once
// A view of the panel logic that keeps what it was told: how often the
// controls changed and every message the operator would have seen.

#include "panel/panel_controller.h"

#include <string>
#include <utility>
#include <vector>

namespace relay::testing {

struct recording_view : panel_controller::view {
    void controls_changed() override { ++changes; }
    void show_message(const std::string& title, const std::string& text) override
    {
        messages.emplace_back(title, text);
    }
    // The text of the last message, or "" when none was shown.
    std::string last_message() const { return messages.empty() ? std::string{} : messages.back().second; }

    int changes = 0;
    std::vector<std::pair<std::string, std::string>> messages;
};

}  // namespace relay::testing
