// player_object.hpp - one player of a subgroup, as both subgroup structures
// keep it. Internal to the zep library.
//
// In the owner's PlayerTable a record names a member: the agent connection
// to it, its player id and the request text it joined with. In a member's
// MembershipRecord the records are the other players as the owner announced
// them (no connection: id 0), plus the owner and the own join target.
#pragma once

#include <cstdint>
#include <string>

#include "runtime_class.hpp"

namespace zep {

class CPlayerObject : public CObject {
  ZEP_DECLARE_RUNTIME_CLASS(CPlayerObject)

 public:
  CPlayerObject() = default;
  CPlayerObject(const CPlayerObject&) = default;
  CPlayerObject& operator=(const CPlayerObject&) = default;
  // A copy of `other`; an empty record when there is none.
  explicit CPlayerObject(const CPlayerObject* other);

  // Takes all three fields from `other`, or empties the record when there is
  // none.
  void CopyFrom(const CPlayerObject* other);

  std::uint32_t connectionId = 0;  // agent connection to the player; 0 if none
  std::string playerId;            // "<address>:<port>", the record's map key
  std::string description;         // owner's table: the member's request text
};

}  // namespace zep
