// listed_address.hpp - the address a player is listed under (internal to
// vossad).
//
// A player is registered under the address its connection comes from. One
// that registered through the loopback interface (a player on the server's
// own machine) is "127.0.0.1:<port>", which a player elsewhere would dial as
// its own machine. To an asker that reached the server on another address,
// such a player is listed under that address instead: it is an address of
// the server's machine, so the player's listener is reached there too. An
// asker on loopback sees the ids as registered.
#pragma once

#include <netinet/in.h>

#include <string>
#include <string_view>

namespace vossad {

// What an asker that reached the server on `reachedOn` sees in place of a
// loopback address; empty when it sees ids as registered.
std::string LoopbackStandIn(in_addr reachedOn);
// Appends `id` as listed to an asker with that stand-in.
void AppendListedId(std::string& line, const std::string& id, const std::string& standIn);
// The id a listed one was registered under, for an id an asker names back
// (a CPIN): a stand-in address maps back to 127.0.0.1. Empty when it is not
// a stand-in id.
std::string RegisteredIdOf(std::string_view listed, const std::string& standIn);

}  // namespace vossad
