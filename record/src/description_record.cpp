#include "record/description_record.hpp"

namespace lobby {

std::string BuildDescriptionRecord(const Profile& p) {
  std::string record;
  record.reserve(64 + p.realName.size() + p.description.size() + p.city.size() + p.country.size() +
                 p.age.size() + p.sex.size() + p.email.size());
  const auto pair = [&record](std::string_view key, std::string_view value) {
    record.append(key);
    record.append(value);
    record.push_back(';');
  };
  pair("VERSION=", kRecordVersion);
  pair("REAL=", p.realName);
  pair("DESC=", p.description);
  pair("CITY=", p.city);
  pair("COUNTRY=", p.country);
  pair("AGE=", p.age);
  pair("SEX=", p.sex);
  pair("EMAIL=", p.email);
  return record;
}

std::string GetField(std::string_view text, std::string_view key) {
  if (key.empty()) return {};
  const std::size_t at = text.find(key);
  if (at == std::string_view::npos) return {};
  std::string_view window = text.substr(at + key.size(), kFieldWindow);
  const std::size_t end = window.find(';');
  if (end != std::string_view::npos) window = window.substr(0, end);
  return std::string(window);
}

std::string AddressOfPlayer(std::string_view playerId) {
  return std::string(playerId.substr(0, playerId.find(':')));
}

}  // namespace lobby
