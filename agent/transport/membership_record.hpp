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
  // (Inline for the usual two-player game, in which nobody is announced.)
  CPlayerObject* FindMember(std::string_view playerId) const {
    return players.empty() ? nullptr : FindAnnounced(playerId);
  }
  // Removes and deletes the record; false when there was none.
  bool RemoveMember(const std::string& playerId);
  int RemoveAllMembers();

  // The owner's player id and the connection to it.
  CPlayerObject owner;
  // This session's own join request: the target's player id and the player
  // text it was asked with.
  CPlayerObject joinTarget;
  CPlayerObject* FindAnnounced(std::string_view playerId) const;

  // The other players, keyed by player id (looked up by views of ids too).
  std::map<std::string, std::unique_ptr<CPlayerObject>, std::less<>> players;
};

}  // namespace zep
