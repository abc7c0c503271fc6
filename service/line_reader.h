#pragma once
// Cuts a client's byte stream into request lines, holding at most one
// line's worth: an over-long line is reported once and skipped to its end,
// so a client that never sends a newline cannot grow the buffer.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace relay {

class line_reader {
public:
    struct item {
        bool too_long = false;
        std::string line;  // without its newline; empty when too_long
    };

    explicit line_reader(std::size_t max_line_bytes) : limit(max_line_bytes) {}

    std::vector<item> feed(std::string_view bytes);
    // At the end of input: the last line, when it came without a newline.
    std::optional<item> finish();
    std::size_t buffered() const { return partial.size(); }

private:
    std::size_t limit;
    std::string partial;
    bool skipping = false;
};

}  // namespace relay
