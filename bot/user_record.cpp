#include "user_record.hpp"

namespace lobbybot {
namespace {

std::string OrDash(const std::string& value) { return value.empty() ? "-" : value; }

}  // namespace

std::string BuildUserRecord(const Profile& p) {
  return "VERSION=0.90b1;REAL=" + p.name + ";DESC=" + OrDash(p.description) +
         ";CITY=" + OrDash(p.city) + ";COUNTRY=" + OrDash(p.country) + ";AGE=" + OrDash(p.age) +
         ";SEX=" + (p.female ? "1" : "0") + ";EMAIL=" + OrDash(p.email) + ";";
}

std::string RecordField(std::string_view record, std::string_view key) {
  const std::size_t at = record.find(key);
  if (at == std::string_view::npos) return {};
  std::string_view value = record.substr(at + key.size());
  value = value.substr(0, value.find(';'));
  return std::string(value.substr(0, 200));
}

std::string AddressOfPlayer(std::string_view playerId) {
  return std::string(playerId.substr(0, playerId.find(':')));
}

}  // namespace lobbybot
