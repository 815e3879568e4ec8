#include "platform/option_values.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace platform {

bool ParseCountOption(const std::string& text, unsigned long max, unsigned long* out) {
  // strtoul alone would take blanks, a sign and a wrapped negative number.
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value > max) return false;
  *out = value;
  return true;
}

bool ParseSecondsOption(const std::string& text, std::chrono::milliseconds* out) {
  if (text.empty() || text.front() == ' ' || text.front() == '\t') return false;
  errno = 0;
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400) return false;
  *out = std::chrono::milliseconds(std::max<long long>(1, std::llround(seconds * 1000)));
  return true;
}

}  // namespace platform
