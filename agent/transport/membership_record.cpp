#include "membership_record.hpp"

#include <utility>

#include "player_id.hpp"

namespace zep {

CPlayerObject* MembershipRecord::AddMember(const std::string& playerText) {
  // An ADDP line from the owner whose text names no player: there is no one
  // to enter, and an empty key would only collect garbage.
  std::string address;
  unsigned port = 0;
  if (!ParsePlayerText(playerText, address, port)) return nullptr;

  auto record = std::make_unique<CPlayerObject>();
  record->playerId = FormatPlayerId(address, port);
  CPlayerObject* entered = record.get();
  std::string key = record->playerId;
  players.insert_or_assign(std::move(key), std::move(record));
  return entered;
}

CPlayerObject* MembershipRecord::FindAnnounced(std::string_view playerId) const {
  const auto it = players.find(playerId);
  if (it == players.end()) return nullptr;
  recent_.Remember(&*it);
  return it->second.get();
}

bool MembershipRecord::RemoveMember(const std::string& playerId) {
  auto it = players.find(playerId);
  if (it == players.end()) return false;
  recent_.Forget(&*it);
  players.erase(it);
  return true;
}

int MembershipRecord::RemoveAllMembers() {
  recent_.Clear();
  players.clear();
  return 1;
}

}  // namespace zep
