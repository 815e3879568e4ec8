#include "store_records.hpp"

#include <arpa/inet.h>

#include <charconv>

#include "lobby_protocol.hpp"

namespace vossad {
namespace {

// Takes "<length>:<bytes>" off the front of text.
std::optional<std::string_view> TakeField(std::string_view& text, std::size_t max) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > 4) return std::nullopt;
  std::size_t length = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + colon, length);
  if (ec != std::errc() || end != text.data() + colon || length > max || length > text.size() - colon - 1)
    return std::nullopt;
  const std::string_view field = text.substr(colon + 1, length);
  text.remove_prefix(colon + 1 + length);
  return field;
}

void AppendField(std::string& out, std::string_view field) {
  out += std::to_string(field.size());
  out += ':';
  out += field;
}

}  // namespace

bool ValidInstanceName(std::string_view name) {
  if (name.empty() || name.size() > kMaxInstanceName) return false;
  for (const char ch : name) {
    const bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                    ch == '.' || ch == '_' || ch == ':' || ch == '-';
    if (!ok) return false;
  }
  return true;
}

bool ValidAdvertised(std::string_view address) {
  if (address.size() > kMaxAdvertised) return false;
  for (const char ch : address) {
    if (ch <= ' ' || ch > '~' || ch == ';') return false;
  }
  return true;
}

bool ValidPlayerId(std::string_view id) {
  const std::size_t colon = id.rfind(':');
  if (colon == std::string_view::npos || colon > 15 || !ParsePort(id.substr(colon + 1))) return false;
  const std::string host(id.substr(0, colon));
  in_addr address{};
  return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

std::optional<std::uint64_t> ParseSerial(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || text.size() > 19 || ec != std::errc() || end != text.data() + text.size() || value == 0 ||
      value >= kProvisionalSerials)
    return std::nullopt;
  return value;
}

std::string EncodeRecord(std::string_view app, std::string_view own, std::string_view description) {
  std::string out;
  out.reserve(app.size() + own.size() + description.size() + 16);
  AppendField(out, app);
  AppendField(out, own);
  AppendField(out, description);
  return out;
}

std::optional<StoredPlayer> DecodeValue(std::string_view value) {
  if (value.size() > kMaxStoredValue) return std::nullopt;
  StoredPlayer player;
  const std::size_t a = value.find('\n');
  if (a == std::string_view::npos) return std::nullopt;
  const std::optional<std::uint64_t> serial = ParseSerial(value.substr(0, a));
  const std::size_t b = value.find('\n', a + 1);
  if (!serial || b == std::string_view::npos) return std::nullopt;
  const std::string_view owner = value.substr(a + 1, b - a - 1);
  if (!ValidInstanceName(owner) || b + 2 >= value.size() || value[b + 2] != '\n') return std::nullopt;
  const char flag = value[b + 1];
  if (flag != '0' && flag != '1') return std::nullopt;
  std::string_view rest = value.substr(b + 3);
  const auto app = TakeField(rest, kMaxStoredField);
  const auto own = app ? TakeField(rest, kMaxStoredField) : std::nullopt;
  const auto description = own ? TakeField(rest, kMaxStoredDescription) : std::nullopt;
  if (!description || !rest.empty()) return std::nullopt;
  player.serial = *serial;
  player.owner.assign(owner);
  player.inGame = flag == '1';
  player.app.assign(*app);
  player.own.assign(*own);
  player.description.assign(*description);
  return player;
}

std::string_view StoredOwner(std::string_view value) {
  const std::size_t first = value.find('\n');
  if (first == std::string_view::npos) return {};
  const std::size_t second = value.find('\n', first + 1);
  if (second == std::string_view::npos) return {};
  return value.substr(first + 1, second - first - 1);
}

}  // namespace vossad
