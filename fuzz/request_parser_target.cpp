// Random bytes from a socket client, cut into lines as the control socket
// cuts them and read as requests. Whatever arrives, the parser returns a
// request or a usage error; a request names a relay, by number or by name,
// exactly when its command takes one, a duration in bounds exactly when it
// takes one, and an over-long line is never taken.

#include "core/timing.h"
#include "service/line_reader.h"
#include "service/request.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace relay;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void check(std::string_view line)
{
    const auto parsed = parse_request(line);
    if (const auto* error = std::get_if<usage_error>(&parsed)) {
        require(!error->why.empty());
        return;
    }
    const auto& r = std::get<request>(parsed);
    require(line.size() <= max_request_bytes + 1);
    require(line.find('\0') == std::string_view::npos);
    // A relay by number or by name, for the owner to resolve; never both.
    if (takes_relay(r.kind))
        require((r.relay >= 1 && r.relay <= 4) != !r.relay_name.empty());
    else
        require(r.relay == 0 && r.relay_name.empty());
    require(takes_duration(r.kind) ? (r.duration >= min_step_duration && r.duration <= max_step_duration)
                                   : r.duration.count() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    check(bytes);

    // The same bytes as a stream in pieces whose sizes the first byte picks.
    line_reader reader(max_request_bytes);
    const std::size_t step = size > 0 ? 1 + data[0] % 61 : 1;
    std::size_t lines = 0;
    for (std::size_t at = 0; at < size; at += step) {
        for (const auto& item : reader.feed(bytes.substr(at, step))) {
            if (!item.too_long) {
                require(item.line.size() <= max_request_bytes);
                check(item.line);
            }
            ++lines;
        }
        require(reader.buffered() <= max_request_bytes);
    }
    require(lines <= size);
    return 0;
}
