#include "relayd/port_identity.h"

#include "text/number_text.h"

#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace relay::relayd {

port_identity identify_port(const std::string& text, const port_catalog& catalog)
{
    const auto resolved = resolve_port(text, catalog);
    if (!resolved.port) {
        // "1" and "1.0" are the same port even while no port 1 is listed.
        const auto number = text_to_int16(text);
        return {number ? "port " + std::to_string(*number) : text, std::nullopt};
    }
    // A device missing now is still compared by its path, "." and ".."
    // resolved, since either board may open it once it appears.
    std::error_code error;
    const auto canonical = std::filesystem::weakly_canonical(resolved.port->path, error);
    port_identity id{error ? resolved.port->path : canonical.string(), std::nullopt};
    struct stat st {};
    if (::stat(id.path.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
        id.device = static_cast<std::uint64_t>(st.st_rdev);
    return id;
}

}  // namespace relay::relayd
