#include "player_table.hpp"

#include <string_view>
#include <utility>

#include "player_id.hpp"
#include "zep/agent.hpp"

namespace zep {

namespace {

// What a loop over the members needs, copied out before the first send: a
// failed send calls the session back, which may change the table.
struct MemberView {
  std::string playerId;
  std::uint32_t connectionId;
  std::string description;
};

std::vector<MemberView> Snapshot(const PlayerTable::Members& members) {
  std::vector<MemberView> views;
  views.reserve(members.size());
  for (const auto& [id, record] : members)
    views.push_back({record->playerId, record->connectionId, record->description});
  return views;
}

constexpr int kKeepOpen = 0;
constexpr int kClose = 1;

}  // namespace

PlayerTable::PlayerTable(CAgent& agent) : agent(agent) {}

PlayerTable::~PlayerTable() { RemoveAllPlayers(); }

CPlayerObject* PlayerTable::AddPlayer(std::uint32_t connectionId,
                                      const std::string& requestText) {
  // A request text without a player id would give a member nobody can
  // address (and a map key of garbage); it is refused before anything is
  // made or announced.
  std::string address;
  unsigned port = 0;
  if (!ParsePlayerText(requestText, address, port)) return nullptr;

  auto record = std::make_unique<CPlayerObject>();
  record->playerId = FormatPlayerId(address, port);
  record->connectionId = connectionId;
  record->description = requestText;
  const std::string newId = record->playerId;

  // The same agent joining again replaces its earlier record. That record's
  // connection is closed (silently, as the agent is still in the subgroup and
  // no REMP is due) so that no connection is left without a member; it is
  // taken out first so that it is announced neither to the newcomer nor to
  // itself.
  if (auto it = members.find(newId); it != members.end()) {
    const std::uint32_t earlierConnection = it->second->connectionId;
    Erase(it);
    if (earlierConnection != connectionId) agent.AASend(earlierConnection, std::string(), kClose);
  }

  const std::vector<MemberView> present = Snapshot(members);
  const std::string announcement = "ADDP " + requestText;
  for (const MemberView& member : present) {
    if (!agent.AASend(member.connectionId, announcement, kKeepOpen))
      failedIds.push_back(member.playerId);
  }
  for (const MemberView& member : present) {
    if (!agent.AASend(connectionId, "ADDP " + member.description, kKeepOpen)) {
      // The newcomer's connection is gone; one entry is enough.
      failedIds.push_back(newId);
      break;
    }
  }

  // Entered even when its announcements failed: RemoveFailedPlayers, run by
  // the caller right after, removes it again and tells the others.
  CPlayerObject* entered = record.get();
  members.insert_or_assign(newId, std::move(record));
  return entered;
}

bool PlayerTable::RemovePlayer(const std::string& playerId) {
  auto it = members.find(playerId);
  if (it == members.end()) return false;
  // playerId may be the very key erased here; only the record is used after.
  const std::unique_ptr<CPlayerObject> removed = std::move(it->second);
  Erase(it);

  const std::string announcement = "REMP " + removed->playerId;
  for (const MemberView& member : Snapshot(members)) {
    // A member that cannot be told is closed and reported by the transport.
    agent.AASend(member.connectionId, announcement, kKeepOpen);
  }
  return true;
}

int PlayerTable::RemoveFailedPlayers() {
  // Removals announce, and an announcement that fails calls the session
  // back; work on our own copy of the list.
  const std::vector<std::string> failed = std::exchange(failedIds, {});
  for (const std::string& id : failed) RemovePlayer(id);
  return 1;
}

CPlayerObject* PlayerTable::FindInMap(std::string_view playerId) const {
  const auto it = members.find(playerId);
  if (it == members.end()) return nullptr;
  recent_.Remember(&*it);
  return it->second.get();
}

CPlayerObject* PlayerTable::FindPlayerByConnection(std::uint32_t connectionId) const {
  for (const auto& [id, record] : members)
    if (record->connectionId == connectionId) return record.get();
  return nullptr;
}

void PlayerTable::Erase(Members::iterator it) {
  recent_.Forget(&*it);
  members.erase(it);
}

int PlayerTable::RemoveAllPlayers() {
  recent_.Clear();
  members.clear();
  return 1;
}

int PlayerTable::LeaveAll() {
  recent_.Clear();
  const auto leaving = std::exchange(members, {});
  for (const auto& [id, record] : leaving) {
    // The close flag closes without sending anything; members learn from the
    // closed connection itself.
    agent.AASend(record->connectionId, std::string(), kClose);
  }
  RefuseAllPending();
  return 1;
}

int PlayerTable::RefuseAllPending() {
  // Requests are stored as they arrived; one without a player id names no
  // one to answer.
  std::vector<std::pair<std::string, unsigned>> requesters;
  requesters.reserve(pending.size());
  for (const PendingRequest& request : std::exchange(pending, {})) {
    std::string address;
    unsigned port = 0;
    if (ParsePlayerText(request.text, address, port)) requesters.emplace_back(std::move(address), port);
  }
  // The requesters' JOIN connections were closed when the requests came in;
  // the answers go to their listening ports, all connected to at once so
  // that requesters that never answer cannot hold the caller for longer
  // than one connect. The transport tells the server of those it cannot
  // reach, and they are simply not answered.
  agent.AASendToEach(requesters, "NAKJ LEAV");
  return 1;
}

void PlayerTable::AddPendingRequest(const std::string& requestText, const std::string& fromAddress) {
  PendingRequest request;
  request.text = requestText;
  request.fromAddress = fromAddress;
  // Read as the session reads the ids of requests (after "ID=", not cut at
  // ";"), so that the id matches the one the client is told.
  std::string address;
  unsigned port = 0;
  if (requestText.size() >= 3 &&
      ReadAddressAndPort(std::string_view(requestText).substr(3, kMaxPlayerIdText), address, port)) {
    request.requesterId = FormatPlayerId(address, port);
    request.requesterAddress = std::move(address);
  }
  pending.push_back(std::move(request));
}

namespace {
bool Names(const PendingRequest& request, const std::string& text) {
  return request.text == text || (!request.renewedText.empty() && request.renewedText == text);
}
}  // namespace

bool PlayerTable::IsPendingRequest(const std::string& requestText) const {
  return FindPendingRequest(requestText) != nullptr;
}

const PendingRequest* PlayerTable::FindPendingRequest(const std::string& requestText) const {
  for (const PendingRequest& request : pending)
    if (Names(request, requestText)) return &request;
  return nullptr;
}

void PlayerTable::RemovePendingRequest(const std::string& requestText) {
  for (auto it = pending.begin(); it != pending.end(); ++it) {
    if (Names(*it, requestText)) {
      pending.erase(it);
      return;
    }
  }
}

PendingRequest* PlayerTable::FindPendingRequestOf(const std::string& requesterId) {
  if (requesterId.empty()) return nullptr;
  for (PendingRequest& request : pending)
    if (request.requesterId == requesterId) return &request;
  return nullptr;
}

std::size_t PlayerTable::PendingFrom(const std::string& address) const {
  std::size_t n = 0;
  for (const PendingRequest& request : pending) n += request.fromAddress == address;
  return n;
}

std::size_t PlayerTable::PendingNaming(const std::string& address) const {
  std::size_t n = 0;
  for (const PendingRequest& request : pending) n += request.requesterAddress == address;
  return n;
}

}  // namespace zep
