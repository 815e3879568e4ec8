#include "player_object.hpp"

namespace zep {

ZEP_IMPLEMENT_DYNCREATE(CPlayerObject, CObject);

CPlayerObject::CPlayerObject(const CPlayerObject* other) { CopyFrom(other); }

void CPlayerObject::CopyFrom(const CPlayerObject* other) {
  if (other == this) return;
  if (other == nullptr) {
    connectionId = 0;
    playerId.clear();
    description.clear();
    return;
  }
  connectionId = other->connectionId;
  playerId = other->playerId;
  description = other->description;
}

}  // namespace zep
