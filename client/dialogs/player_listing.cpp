#include "player_listing.hpp"

#include "core/description_record.hpp"

namespace lobby {

std::optional<ListingRecord> ParseListing(const std::string& text) {
  ListingRecord r;
  r.name = GetField(text, "REAL=");
  r.description = GetField(text, "DESC=");
  r.city = GetField(text, "CITY=");
  r.country = GetField(text, "COUNTRY=");
  r.age = GetField(text, "AGE=");
  r.sex = GetField(text, "SEX=");
  r.email = GetField(text, "EMAIL=");
  r.playerId = GetField(text, "ID=");
  for (const std::string* field : {&r.name, &r.description, &r.city, &r.country, &r.age, &r.sex, &r.email, &r.playerId})
    if (field->empty()) return std::nullopt;
  r.text = text;
  return r;
}

}  // namespace lobby
