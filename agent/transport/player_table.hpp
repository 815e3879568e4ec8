// player_table.hpp - the owner's side of a subgroup. Internal to the zep
// library.
//
// A session that owns a subgroup keeps here its members (each with the agent
// connection to it), the join requests that wait for the client's answer,
// and the response status with which it answers new requests. The table
// itself sends the lines that keep every member's view of the subgroup up to
// date: "ADDP <request text>" when a member joins, "REMP <player id>" when
// one leaves, and "NAKJ LEAV" to every waiting requester when the subgroup
// is given up. When these operations are called is the session's business.
//
// Sends go through the session's CAgent and wait until the frame is written
// or has failed, so every operation has finished its announcements when it
// returns. A failed send raises TE_PEER_SEND_FAILED from inside the call; the
// loops here work on snapshots so that the session may change the table from
// that callback.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "player_object.hpp"
#include "recent_entries.hpp"

class CAgent;

namespace zep {

// Join requests waiting for the client's answer. A client answers them one
// by one, and a two-player game needs one; the cap keeps a flood of JOIN
// connections from growing the list (and the queue) without bound. A JOIN
// over it is refused at once, as when the response status is 0. The share
// one address may hold of it is kMaxPendingPerAddress (peer_limits.hpp).
inline constexpr std::size_t kMaxPendingRequests = 64;

// A join request waiting for the client's answer, with where it came from.
struct PendingRequest {
  // The request text, exactly as the client was given it.
  std::string text;
  // The text of a JOIN that renewed the request after the client had read
  // it; the request answers to either. Empty when not renewed.
  std::string renewedText;
  // The requester's player id and its address, as the session reads them
  // from the text; empty for a text that names no player.
  std::string requesterId;
  std::string requesterAddress;
  // The address the JOIN connection came from; empty when unknown.
  std::string fromAddress;
};

class PlayerTable {
 public:
  explicit PlayerTable(CAgent& agent);
  // Drops every member record and pending request; sends and closes nothing.
  ~PlayerTable();
  PlayerTable(const PlayerTable&) = delete;
  PlayerTable& operator=(const PlayerTable&) = delete;

  // Enters a new member reached on `connectionId` whose join request text is
  // `requestText` ("ID=<address>:<port>;..."). Every member already present
  // is sent "ADDP <requestText>", and the newcomer is sent "ADDP <text>" for
  // each of them; members whose announcement could not be delivered (the
  // newcomer included) are noted in failedIds for RemoveFailedPlayers, which
  // the caller runs right after. Returns the new record (owned by the table),
  // or null for a text that holds no player id: nothing is then entered or
  // sent.
  CPlayerObject* AddPlayer(std::uint32_t connectionId, const std::string& requestText);
  // Removes a member and sends "REMP <playerId>" to the remaining ones. The
  // member's own connection is left open. False when it was not a member.
  bool RemovePlayer(const std::string& playerId);
  // RemovePlayer for each id in failedIds, in order, then empties it.
  int RemoveFailedPlayers();

  CPlayerObject* FindPlayer(std::string_view playerId) const {
    if (const auto* entry = recent_.Find(playerId)) return entry->second.get();
    return FindInMap(playerId);
  }
  // The first member (in map order) on that connection, or null.
  CPlayerObject* FindPlayerByConnection(std::uint32_t connectionId) const;
  std::size_t PlayerCount() const { return members.size(); }
  // Forgets every member without sending or closing anything.
  int RemoveAllPlayers();

  // Gives the subgroup up: every member connection is closed without a line,
  // every member forgotten, then RefuseAllPending.
  int LeaveAll();
  // Answers each pending request with "NAKJ LEAV" on a new connection to
  // the requester, closed right after, and forgets it. The connections are
  // made together (CAgent::AASendToEach), so the call takes no longer than
  // one connect. A requester that cannot be reached gets nothing.
  int RefuseAllPending();

  // Appends a request that came in on a connection from `fromAddress`.
  void AddPendingRequest(const std::string& requestText, const std::string& fromAddress = {});
  // A request is named by its text or by the text that renewed it.
  bool IsPendingRequest(const std::string& requestText) const;
  const PendingRequest* FindPendingRequest(const std::string& requestText) const;
  // Forgets the oldest pending request named by `requestText`, if any.
  void RemovePendingRequest(const std::string& requestText);
  // The pending request of that requester, or null.
  PendingRequest* FindPendingRequestOf(const std::string& requesterId);
  // How many pending requests came from connections of that address, and
  // how many name a requester at that address.
  std::size_t PendingFrom(const std::string& address) const;
  std::size_t PendingNaming(const std::string& address) const;

  // Read and written directly by the session.
  std::int32_t responseStatus = 1;
  std::string refusalReason = "GAME";
  // Keyed by player id (looked up by views of ids too); the table owns the
  // records.
  using Members = std::map<std::string, std::unique_ptr<CPlayerObject>, std::less<>>;
  // Members whose ADDP announcement failed, waiting for RemoveFailedPlayers.
  std::vector<std::string> failedIds;
  // Requests waiting for the client's answer, oldest first; the session
  // keeps at most kMaxPendingRequests, and one per requester.
  std::list<PendingRequest> pending;
  CAgent& agent;

 private:
  // Erases a member's entry; every erasure goes through here or clears
  // recent_ itself.
  void Erase(Members::iterator it);
  // FindPlayer's look-up in the map, which remembers what it found.
  CPlayerObject* FindInMap(std::string_view playerId) const;

  Members members;
  // The entries FindPlayer found last. An owner looks a member up for every
  // message in and out, and relaying, two members in turn.
  mutable RecentEntries<Members> recent_;
};

}  // namespace zep
