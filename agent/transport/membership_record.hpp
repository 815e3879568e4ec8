// membership_record.hpp - the member's side of a subgroup. Internal to the
// zep library.
//
// A session that belongs to (or asks to join) another agent's subgroup keeps
// here who owns it and on which connection, the target and player text of
// its own join request, and the other players as the owner announced them in
// ADDP and REMP lines. Nothing here sends anything.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "player_object.hpp"
#include "recent_entries.hpp"

namespace zep {

class MembershipRecord {
 public:
  MembershipRecord() = default;
  MembershipRecord(const MembershipRecord&) = delete;
  MembershipRecord& operator=(const MembershipRecord&) = delete;

  // Enters the player named by `playerText` ("ID=<address>:<port>;...") with
  // connection id 0, replacing a record with the same id. Returns the record
  // (owned by this), or null when the text holds no player id.
  CPlayerObject* AddMember(const std::string& playerText);
  // (Inline for the usual two-player game, in which nobody is announced,
  // and for a member that talks to the same players message after message.)
  CPlayerObject* FindMember(std::string_view playerId) const {
    if (players.empty()) return nullptr;
    if (const auto* entry = recent_.Find(playerId)) return entry->second.get();
    return FindAnnounced(playerId);
  }
  // Removes and deletes the record; false when there was none.
  bool RemoveMember(const std::string& playerId);
  int RemoveAllMembers();
  std::size_t MemberCount() const { return players.size(); }

  // The owner's player id and the connection to it.
  CPlayerObject owner;
  // This session's own join request: the target's player id and the player
  // text it was asked with.
  CPlayerObject joinTarget;

 private:
  // The other players, keyed by player id (looked up by views of ids too).
  using Players = std::map<std::string, std::unique_ptr<CPlayerObject>, std::less<>>;

  // FindMember's search of the map, which remembers what it found.
  CPlayerObject* FindAnnounced(std::string_view playerId) const;

  Players players;
  mutable RecentEntries<Players> recent_;
};

}  // namespace zep
