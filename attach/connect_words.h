#pragma once
// Why a board owner's control socket could not be connected to, in plain
// words for the person at the window, with the way out where there is one.

#include <string>

namespace relay {

// error: connect()'s errno. For a permission refused, says who may use the
// socket (the group of the socket, or of the folder on the way to it that
// this user may not enter) and how to join them.
std::string connect_failure_words(const std::string& path, int error);

}  // namespace relay
