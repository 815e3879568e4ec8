// libFuzzer harness: a profile file of arbitrary bytes is parsed, read,
// changed and written back. Parsing and writing back an untouched document
// gives back the very same bytes; a value found has no line break and no
// blanks around it; a key that was set reads back, and a write changes no
// line but its own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ini_document.hpp"

namespace {

bool HasBlankAtAnEnd(std::string_view v) {
  return !v.empty() && (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  using platform::detail::IniDocument;
  IniDocument doc = IniDocument::Parse(text);
  if (doc.Serialize() != text) __builtin_trap();
  for (const char* key : {"CurrentServer", "Version", "CorvanePath"}) {
    for (const char* section : {"QORServers", "QORGames", "Vossa"}) {
      if (const auto value = doc.Find(section, key)) {
        if (value->find('\n') != std::string_view::npos || HasBlankAtAnEnd(*value)) __builtin_trap();
      }
    }
  }
  const std::string before = doc.Serialize();
  if (doc.Set("QORServers", "CurrentServer", "lobby.example")) {
    const std::string written = doc.Serialize();
    const IniDocument reread = IniDocument::Parse(written);
    const auto value = reread.Find("qorservers", "currentserver");
    if (!value || *value != "lobby.example") __builtin_trap();
    // Other keys read as they did.
    const IniDocument original = IniDocument::Parse(before);
    const auto version = original.Find("QORServers", "Version");
    const auto versionAfter = reread.Find("QORServers", "Version");
    if (version.has_value() != versionAfter.has_value() || (version && *version != *versionAfter)) __builtin_trap();
  }
  doc.EraseKey("Profile", "Name");
  doc.EraseSection("QORServers");
  (void)doc.Serialize();
  return 0;
}
