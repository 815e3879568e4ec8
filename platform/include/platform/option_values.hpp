// option_values.hpp - the values of the console programs' options
// (public; used by vossad and lobbybot).
//
// A count is decimal digits only (no sign, no blanks) up to a maximum; a
// time is a number of seconds, fractions allowed, above 0 and at most a
// day, kept in milliseconds (at least 1). Anything else is refused, so
// that a mistyped option stops the program instead of meaning something
// else.
#pragma once

#include <chrono>
#include <string>

#include "platform/platform.h"

namespace platform {

PLAT_EXPORT bool ParseCountOption(const std::string& text, unsigned long max, unsigned long* out);
PLAT_EXPORT bool ParseSecondsOption(const std::string& text, std::chrono::milliseconds* out);

}  // namespace platform
