// installation_check.hpp - whether the client's installation directory holds
// its files (internal).
//
// Without them the client would still start, with a blank splash and a main
// window whose white labels stand on the plain window colour, and say
// nothing of why. So the program looks for the background bitmaps before it
// makes any window, and names what is missing and how to make it.
#pragma once

#include <optional>
#include <string>

namespace lobby {

// What to tell the player when the installation directory (Windows-style,
// ending in a backslash) lacks the client's bitmaps; nothing when it is
// there.
std::optional<std::string> MissingInstallation(const std::string& installDir);

}  // namespace lobby
