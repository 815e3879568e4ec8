// player_listing.hpp - the players the query dialog lists, kept apart from
// its widgets (internal).
//
// Each answer to a query names one player in a user description record;
// the dialog keeps one ListingRecord per row of its list, in the same order.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lobby {

struct ListingRecord {
  std::string playerId;  // "ID=": the address and port of the player's agent
  std::string name;      // "REAL=": the row's text
  std::string description;
  std::string city;
  std::string country;
  std::string age;
  std::string sex;  // "1" is shown as female, anything else as male
  std::string email;
  // The whole answer, byte for byte: an offer to the player is addressed
  // with it.
  std::string text;
};

// The record of one answer; none when any of the eight fields is missing or
// empty.
std::optional<ListingRecord> ParseListing(const std::string& text);

// The list after a fresh answer, players matched by their id: those listed
// and answered again keep their places, with what the answer now says of
// them; those not answered are gone; those new follow in the order they were
// answered, each once.
std::vector<ListingRecord> MergeListing(const std::vector<ListingRecord>& listed,
                                        const std::vector<ListingRecord>& answer);

}  // namespace lobby
