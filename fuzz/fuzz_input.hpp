// fuzz_input.hpp - what the harnesses share (not part of any library): a
// seed may be written as hex so that seeds with NUL bytes stay text files,
// and line-based inputs are cut at '\n'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzinput {

// An input starting "#hex" is the bytes the hex digits after its first line
// spell (that line is a comment; anything else that is not a hex digit is
// ignored); any other input is taken as it is.
inline std::string Bytes(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.substr(0, 4) != "#hex") return std::string(in);
  const std::size_t body = in.find('\n');
  in = body == std::string_view::npos ? std::string_view() : in.substr(body + 1);
  std::string out;
  int high = -1;
  for (char ch : in) {
    int v = ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : -1;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high << 4 | v));
      high = -1;
    }
  }
  return out;
}

inline std::vector<std::string> Lines(std::string_view text, std::size_t maxLines = 256) {
  std::vector<std::string> lines;
  while (!text.empty() && lines.size() < maxLines) {
    const std::size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace fuzzinput
