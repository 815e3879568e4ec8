// libFuzzer harness: a profile file of arbitrary bytes is parsed, read,
// changed and written back; parsing and writing back an untouched document
// must give back the very same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ini_document.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  using platform::detail::IniDocument;
  IniDocument doc = IniDocument::Parse(text);
  if (doc.Serialize() != text) __builtin_trap();
  (void)doc.Find("QORServers", "CurrentServer");
  if (doc.Set("QORServers", "CurrentServer", "lobby.example")) {
    const std::string written = doc.Serialize();
    const IniDocument reread = IniDocument::Parse(written);
    const auto value = reread.Find("qorservers", "currentserver");
    if (!value || *value != "lobby.example") __builtin_trap();
  }
  doc.EraseKey("Profile", "Name");
  doc.EraseSection("QORServers");
  (void)doc.Serialize();
  return 0;
}
