#pragma once
// A panel on an in-memory port, stepped tick by tick.

#include "fake_panel.h"
#include "frame_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace relay::testing {

class panel_test : public ::testing::Test, protected fake_panel {
protected:
    panel_test() { logic.Form_Load(); }

    // Call as ASSERT_TRUE(connect_panel()): a failure here must end the test.
    ::testing::AssertionResult connect_panel()
    {
        logic.open_comm_Click();
        if (logic.controls().open_comm.caption != caption_disconnect)
            return ::testing::AssertionFailure() << "the panel did not connect: " << view.last_message();
        return ::testing::AssertionSuccess();
    }

    std::string indicator(int relay) const { return logic.controls().Label6[relay - 1].caption; }
    std::uint32_t indicator_colour(int relay) const { return logic.controls().Label6[relay - 1].colour; }
};

}  // namespace relay::testing
