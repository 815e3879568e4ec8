// store_records.hpp - how a registration is written into the fleet's Redis
// and read back (internal to vossad). Everything read from the store is
// checked like wire input: bounded sizes, the id an address:port, the
// instance a plain name; an entry that fails is skipped by the caller.
//
// A player's value in the store is "<number>\n<owner>\n<0|1>\n<record>",
// the record being app, own and description, each as "<length>:<bytes>".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vossad {

// Same bounds as a JOIN line.
inline constexpr std::size_t kMaxStoredField = 255;
inline constexpr std::size_t kMaxStoredDescription = 1024;
inline constexpr std::size_t kMaxStoredValue = 2048;
inline constexpr std::size_t kMaxInstanceName = 64;
inline constexpr std::size_t kMaxAdvertised = 64;
// Registration numbers from the store stay below this; the numbers above
// are the provisional ones of registrations not yet written.
inline constexpr std::uint64_t kProvisionalSerials = std::uint64_t{1} << 62;

struct StoredPlayer {
  std::uint64_t serial = 0;
  std::string owner;
  bool inGame = false;
  std::string app;
  std::string own;
  std::string description;
};

// 1 to 64 of letters, digits and ._:-
bool ValidInstanceName(std::string_view name);
// Printable, without ; or blanks, at most kMaxAdvertised bytes.
bool ValidAdvertised(std::string_view address);
// "a.b.c.d:port" with a port of 1 to 65535.
bool ValidPlayerId(std::string_view id);
// A registration number: decimal, 1 up to below kProvisionalSerials.
std::optional<std::uint64_t> ParseSerial(std::string_view text);

std::string EncodeRecord(std::string_view app, std::string_view own, std::string_view description);
std::optional<StoredPlayer> DecodeValue(std::string_view value);
// The owner named in a value, unchecked: enough to pass over an instance's
// own registrations without decoding them; empty when there is none.
std::string_view StoredOwner(std::string_view value);

}  // namespace vossad
