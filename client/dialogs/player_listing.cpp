#include "player_listing.hpp"

#include <algorithm>
#include <set>

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

std::vector<ListingRecord> MergeListing(const std::vector<ListingRecord>& listed,
                                        const std::vector<ListingRecord>& answer) {
  const auto answerFor = [&answer](const std::string& id) {
    return std::find_if(answer.begin(), answer.end(), [&id](const ListingRecord& r) { return r.playerId == id; });
  };
  std::vector<ListingRecord> merged;
  std::set<std::string> ids;
  for (const ListingRecord& entry : listed) {
    const auto now = answerFor(entry.playerId);
    if (now == answer.end()) continue;
    merged.push_back(*now);
    ids.insert(entry.playerId);
  }
  for (const ListingRecord& entry : answer) {
    if (ids.insert(entry.playerId).second) merged.push_back(entry);
  }
  return merged;
}

}  // namespace lobby
