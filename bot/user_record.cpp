#include "user_record.hpp"

namespace lobbybot {
namespace {

std::string OrDash(const std::string& value) { return value.empty() ? "-" : value; }

}  // namespace

std::string BuildUserRecord(const Profile& p) {
  return lobby::BuildDescriptionRecord({p.name, OrDash(p.description), OrDash(p.city), OrDash(p.country),
                                        OrDash(p.age), p.female ? "1" : "0", OrDash(p.email)});
}

}  // namespace lobbybot
