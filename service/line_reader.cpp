#include "service/line_reader.h"

namespace relay {

std::vector<line_reader::item> line_reader::feed(std::string_view bytes)
{
    std::vector<item> out;
    while (!bytes.empty()) {
        const auto newline = bytes.find('\n');
        const auto piece = bytes.substr(0, newline);
        if (skipping) {
            // Already answered when it crossed the limit.
        } else if (partial.size() + piece.size() > limit) {
            out.push_back({true, {}});
            partial.clear();
            skipping = true;
        } else {
            partial.append(piece);
        }
        if (newline == std::string_view::npos)
            break;
        if (!skipping)
            out.push_back({false, std::move(partial)});
        partial.clear();
        skipping = false;
        bytes.remove_prefix(newline + 1);
    }
    return out;
}

std::optional<line_reader::item> line_reader::finish()
{
    std::optional<item> last;
    if (!skipping && !partial.empty())
        last = item{false, std::move(partial)};
    partial.clear();
    skipping = false;
    return last;
}

}  // namespace relay
