// player_id.hpp - reading and writing player ids. Internal to the zep library.
//
// A player id names an agent by the address and listening port other agents
// reach it on: a dotted IPv4 address, a colon and the port in decimal
// ("10.0.0.5:2003"). Player texts and join request texts carry one after
// "ID=", followed by ";" and further fields; callers pass the text from the
// character after "ID=".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zep {

// Longest text looked at; anything beyond is ignored.
inline constexpr std::size_t kMaxPlayerIdText = 499;

// Reads "<address>:<port>" from `text` as it stands: the address is
// everything before the first ":", the port the digits right after it, up to
// the first non-digit. False, outputs untouched, when there is no ":", no
// digit after it, or a number over 65535. The caller bounds the text.
bool ReadAddressAndPort(std::string_view text, std::string& address, unsigned& port);

// Reads "<address>:<port>" from the front of `text`: the text is cut at its
// first ";" (a text without one is read whole), the address is everything
// before the first ":", the port the digits right after it, up to the first
// non-digit. Returns false, leaving both outputs untouched, when there is no
// ":" or no usable port (see player_id.cpp). Only the first 499 characters
// are read.
bool ParsePlayerId(const char* text, std::string& address, unsigned& port);

// The player id of a player or request text ("ID=<address>:<port>;..."):
// ParsePlayerId of the text after its first three characters, whatever they
// are. False, outputs untouched, for a text shorter than that.
bool ParsePlayerText(const std::string& text, std::string& address, unsigned& port);

// "<address>:<port>", the form used as the key of every player map.
std::string FormatPlayerId(const std::string& address, unsigned port);

}  // namespace zep
