#pragma once
// The page's files, built into the binary from web/assets/ so that the page
// needs no file on disk and nothing from elsewhere.

#include <string_view>

namespace relay::web {

struct asset {
    std::string_view name;  // the file's name in web/assets/
    std::string_view type;  // its Content-Type
    std::string_view body;
};

// nullptr for a name that is not there.
const asset* find_asset(std::string_view name);

}  // namespace relay::web
