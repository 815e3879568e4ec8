// The agent-to-agent side of a session: join requests and their answers,
// the subgroup an agent owns or belongs to, and user messages carried member
// to owner to member. The lines themselves are described in
// docs/protocol.md.
//
// Who holds what: an owner's members, pending requests and response status
// are in its PlayerTable, which also sends the ADDP, REMP and "NAKJ LEAV"
// lines; a member's view of its owner and of the other players is in its
// MembershipRecord. A session is never owner and member at once.
//
// Lines come from other agents and are hostile: every id and message taken
// from one is cut to what a queued message can hold, and nothing here ever
// waits on a peer (connects and sends are bounded by the transport).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "agent2agent.hpp"
#include "agent_session.hpp"
#include "peer_limits.hpp"
#include "platform/hot_path.hpp"
#include "player_id.hpp"
#include "short_bytes.hpp"

namespace zep {

namespace {

// Ids, messages and request texts are read into buffers of 500 bytes.
constexpr std::size_t kMaxField = ZEP_TEXT_SIZE - 1;
// "JOIN " and the like: a line's text starts after its command and a blank.
constexpr std::size_t kCommandPrefix = 5;
// "ID=" in front of the player id of a player or request text.
constexpr std::size_t kIdPrefix = 3;

constexpr int kKeepOpen = 0;
constexpr int kClose = 1;

// Players an owner may announce to a member. A subgroup is a two-player
// game; the bound only keeps an owner's ADDP lines from growing the record
// without end (an announcement of a new player over it is ignored).
constexpr std::size_t kMaxAnnouncedPlayers = 256;

// Player id of an owner that has just given up its subgroup, and of an owner
// this session could no longer write to.
constexpr const char* kNoOwner = "   ";

// Inlined, the commands being literals: a compare of four bytes, where a
// call to std::string::compare cost a call to memcmp for each command tried.
inline bool StartsWith(const std::string& line, std::string_view command) {
  return line.size() >= command.size() && std::memcmp(line.data(), command.data(), command.size()) == 0;
}

// The first four characters of a line as one number (0 for a shorter
// line), so that a line's command is told by one switch.
constexpr std::uint32_t Word(std::string_view command) {
  return std::uint32_t{static_cast<unsigned char>(command[0])} |
         std::uint32_t{static_cast<unsigned char>(command[1])} << 8 |
         std::uint32_t{static_cast<unsigned char>(command[2])} << 16 |
         std::uint32_t{static_cast<unsigned char>(command[3])} << 24;
}
inline std::uint32_t CommandOf(const std::string& line) { return line.size() < 4 ? 0 : Word(line); }

// `line` from character `pos` on; empty when the line is shorter.
std::string From(const std::string& line, std::size_t pos, std::size_t max = std::string::npos) {
  return pos < line.size() ? line.substr(pos, max) : std::string();
}

// The session's own reading of a player id, used wherever an id is taken
// from a line or from a text the client passes in. Unlike ParsePlayerId it
// does not cut the text at ";" first: the address is everything before the
// first ":" of the (at most 499 characters of the) text. A port without
// digits, or one no TCP port can have, names no agent either: such a text
// is treated like one without ":", the same rule ParsePlayerId applies.
bool ReadPlayerId(std::string_view text, std::string& address, unsigned& port) {
  return ReadAddressAndPort(text.substr(0, kMaxField), address, port);
}

// The same, skipping the first `skip` characters ("ID=", or "JOIN ID=").
bool ReadPlayerIdAfter(const std::string& text, std::size_t skip, std::string& address,
                       unsigned& port) {
  if (text.size() < skip) return false;
  return ReadPlayerId(std::string_view(text).substr(skip), address, port);
}

// A PLRS, OWNS or DLVF line: "<command> <id> <message>". Words are separated
// by blanks; the message is the rest of the line from the first character
// of its third word, so its leading blanks are dropped and the blanks inside
// it (and after it) are kept. A line without a third word carries an empty
// message, one without a second word an empty id.
// Views into the line they were split from.
struct UserLine {
  std::string_view id;
  std::string_view message;
};

// The line starts with its four-letter command (the caller told it by
// them), so the first blank is usually right behind it.
UserLine SplitUserLine(const std::string& line) {
  std::size_t pos = line.size() > 4 && line[4] == ' ' ? 4 : line.find(' ');  // end of the command word
  pos = line.find_first_not_of(' ', pos == std::string::npos ? line.size() : pos);
  if (pos == std::string::npos) return {};
  std::size_t end = line.find(' ', pos);
  if (end == std::string::npos) end = line.size();
  const std::string_view view(line);
  UserLine out;
  out.id = view.substr(pos, std::min(end - pos, kMaxField));
  const std::size_t third = line.find_first_not_of(' ', end);
  if (third != std::string::npos) out.message = view.substr(third, kMaxField);
  return out;
}

}  // namespace

// ---------------------------------------------------------------- requests

std::string CAgentSession::BuildRequestLine(const char* command, std::uint32_t connectionId) {
  // The joiner names itself by the address the target sees it on and by its
  // listening port, where the answer will come from.
  std::string address;
  unsigned port = 0;
  GetSockName(connectionId, address, port);
  std::string line = command;
  line.append(" ID=").append(FormatPlayerId(address, listenPort_));
  line.append(";APP=").append(appName_).append(";");
  line.push_back(kSeparator);
  line.append(userDescription_);
  // The target keeps a request text of kMaxField characters and never
  // looks further; the line is cut to that so that a long description
  // cannot push it over what agents take in one frame. TERM is cut alike,
  // so it still matches.
  if (line.size() > kCommandPrefix + kMaxField) line.resize(kCommandPrefix + kMaxField);
  return line;
}

int CAgentSession::JoinSubGroup(const char* playerText) {
  if (!IsOpen()) return ZEP_RET_NOTOPENSESSION;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (playerText == nullptr) return ZEP_RET_INVALIDSTRING;
  if (owner_) return ZEP_RET_ALREADYOWNER;
  if (memberState_ == MemberState::kMember) return ZEP_RET_ALREADYPLAYER;
  if (memberState_ == MemberState::kJoining) return ZEP_RET_ALREADYWAIT;

  // A session that asks to join someone will not take members itself, so
  // those waiting for an answer are told at once (even when the text below
  // turns out to name nobody).
  players_->RefuseAllPending();

  const std::string text = playerText;
  std::string address;
  unsigned port = 0;
  if (!ReadPlayerIdAfter(text, kIdPrefix, address, port)) return ZEP_RET_INVALIDPLAYERID;
  const std::string targetId = FormatPlayerId(address, port);
  membership_->joinTarget.playerId = targetId;
  membership_->joinTarget.description = text;

  // An undeliverable request is an outcome of the network, so it is queued
  // rather than returned.
  std::uint32_t connection = 0;
  if (!AAConnectCreate(&connection, address.c_str(), port)) {
    QueueMessage(targetId.c_str(), ZEP_MT_NODELIVERY, nullptr, "JOINFAIL");
    return ZEP_RET_OK;
  }
  if (!AASend(connection, BuildRequestLine("JOIN", connection), kKeepOpen)) {
    QueueMessage(targetId.c_str(), ZEP_MT_NODELIVERY, nullptr, "JOINFAIL");
    return ZEP_RET_OK;
  }
  // The target closes this connection; its answer comes on one it opens to
  // our listener.
  memberState_ = MemberState::kJoining;
  return ZEP_RET_OK;
}

int CAgentSession::AbortSubGroupJoinRequest() {
  if (!IsOpen()) return ZEP_RET_NOTOPENSESSION;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (memberState_ != MemberState::kJoining) return ZEP_RET_NOREQUESTACTIVE;

  std::string address;
  unsigned port = 0;
  if (!ReadPlayerId(membership_->joinTarget.playerId, address, port))
    return ZEP_RET_INVALIDPLAYERID;

  // A target that cannot be reached any more cannot answer either: the
  // request is simply forgotten.
  std::uint32_t connection = 0;
  if (!AAConnectCreate(&connection, address.c_str(), port)) {
    memberState_ = MemberState::kNotMember;
    membership_->joinTarget.playerId.clear();
    return ZEP_RET_OK;
  }
  // TERM carries the same text as the JOIN did (same local address, same
  // listening port), which is how the target finds the request to withdraw.
  if (!AASend(connection, BuildRequestLine("TERM", connection), kKeepOpen))
    return ZEP_RET_AGENTPROBLEM;
  AASend(connection, std::string(), kClose);
  memberState_ = MemberState::kNotMember;
  membership_->joinTarget.playerId.clear();
  return ZEP_RET_OK;
}

int CAgentSession::IncomingRequestStep(std::uint32_t connectionId, const std::string& line) {
  // The request text is kept as the client will read it (499 characters at
  // most), so that the text the client passes back always matches.
  const std::string requestText = From(line, kCommandPrefix, kMaxField);
  std::string address;
  unsigned port = 0;
  const bool hasId = ReadPlayerIdAfter(requestText, kIdPrefix, address, port);

  if (StartsWith(line, "TERM")) {
    // No reply either way; a TERM naming no player cannot withdraw
    // anything (such requests are never taken in).
    // The client is told by the text it knows the request by, which is not
    // this one when the requester renewed its request after it was read.
    const PendingRequest* request = hasId ? players_->FindPendingRequest(requestText) : nullptr;
    if (request != nullptr) {
      const std::string known = request->text;
      players_->RemovePendingRequest(known);
      QueuePeerMessage(FormatPlayerId(address, port), ZEP_MT_USERMSG, known, std::string_view("TERM"));
    }
    return 1;
  }

  // A JOIN naming no player could never be answered (answers go to the
  // requester's listening port): it is dropped without a reply, in any state.
  if (!hasId) {
    AASend(connectionId, std::string(), kClose);
    return 0;
  }

  // The requester's connection is closed after its JOIN line in every case;
  // the connection has been closed here, so the transport must stop reading
  // it (return 0).
  switch (memberState_) {
    case MemberState::kNotMember:
      if (!TakeJoinRequest(connectionId, requestText, address, port))
        AASend(connectionId, "NAKJ " + players_->refusalReason, kKeepOpen);
      break;
    case MemberState::kMember:
      AASend(connectionId, "NAKJ NOWN " + membership_->joinTarget.description, kKeepOpen);
      break;
    case MemberState::kJoining:
      AASend(connectionId, "NAKJ  WAIT", kKeepOpen);
      break;
  }
  // After a failed send the transport has closed the connection already and
  // this finds nothing to close.
  AASend(connectionId, std::string(), kClose);
  return 0;
}

bool CAgentSession::TakeJoinRequest(std::uint32_t connectionId, const std::string& requestText,
                                    const std::string& address, unsigned port) {
  if (players_->responseStatus == 0) return false;
  std::string from;
  unsigned fromPort = 0;
  GetPeerName(connectionId, from, fromPort);
  const std::string requesterId = FormatPlayerId(address, port);

  // One place per requester. Only the address that made the request may
  // renew it; from anywhere else it would let a stranger change what the
  // player is shown of someone else's offer.
  if (PendingRequest* earlier = players_->FindPendingRequestOf(requesterId)) {
    if (earlier->fromAddress != from) return false;
    // Unread, the client will read the new text in the earlier one's place.
    // Once read, the client may be answering it by the text it was given,
    // so that text stays, and the request also answers to the new text, by
    // which the requester may withdraw it. Either answer reaches the same
    // requester.
    if (queue_->ReplaceUnreadText(ZEP_MT_USERMSG, earlier->text, "JOIN", requestText))
      earlier->text = requestText;
    else if (requestText != earlier->text)
      earlier->renewedText = requestText;
    return true;
  }

  // Anything the client could not be told of, or over a cap, is refused at
  // once, as when the client refuses all: one connection per JOIN must not
  // grow the pending list and the queue without bound, and one host must
  // not take every place.
  if (players_->pending.size() >= kMaxPendingRequests ||
      players_->PendingFrom(from) >= kMaxPendingPerAddress ||
      players_->PendingNaming(address) >= kMaxPendingPerAddress || !queue_->HasRoomForPeerMessage())
    return false;
  players_->AddPendingRequest(requestText, from);
  QueuePeerMessage(requesterId, ZEP_MT_USERMSG, requestText, std::string_view("JOIN"));
  return true;
}

int CAgentSession::AcceptSubGroupJoinRequest(const char* requestText, int accept,
                                             const char* reason) {
  if (!IsOpen()) return ZEP_RET_NOTOPENSESSION;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (requestText == nullptr) return ZEP_RET_INVALIDSTRING;
  if (memberState_ != MemberState::kNotMember) return ZEP_RET_PLAYERACTIVE;

  const std::string request = requestText;
  if (!players_->IsPendingRequest(request)) return ZEP_RET_NOREQUESTACTIVE;
  // Whatever happens below, the request has had its answer.
  players_->RemovePendingRequest(request);

  std::string address;
  unsigned port = 0;
  if (!ReadPlayerIdAfter(request, kIdPrefix, address, port)) return ZEP_RET_INVALIDPLAYERID;
  std::uint32_t connection = 0;
  if (!AAConnectCreate(&connection, address.c_str(), port)) return ZEP_RET_PLAYERLEAVE;

  if (accept == 0) {
    // A refusal without a reason still says NAKJ, with an empty reason.
    const std::string refusal = std::string("NAKJ ") + (reason != nullptr ? reason : "");
    if (!AASend(connection, refusal, kKeepOpen)) return ZEP_RET_AGENTPROBLEM;
    AASend(connection, std::string(), kClose);
    return ZEP_RET_OK;
  }

  // This connection stays open: it is the new member's connection to us.
  if (!AASend(connection, "AKNJ", kKeepOpen)) return ZEP_RET_AGENTPROBLEM;
  SendGameToServer();
  if (players_->AddPlayer(connection, request) == nullptr) {
    // The table reads ids as ParsePlayerId does and found none where the
    // reading above did (an address holding ";"): no member to keep the
    // connection for.
    AASend(connection, std::string(), kClose);
  }
  players_->RemoveFailedPlayers();
  owner_ = players_->PlayerCount() != 0;
  return ZEP_RET_OK;
}

// ------------------------------------------------------------ owner's lines

int CAgentSession::OwnerLineStep(std::uint32_t connectionId, const std::string& line) {
  const std::string rest = From(line, kCommandPrefix);

  if (memberState_ == MemberState::kJoining &&
      (StartsWith(line, "NAKJ") || StartsWith(line, "AKNJ"))) {
    // The answer names its sender by where it came from: for AKNJ that is
    // the owner's end of the member's connection.
    std::string address;
    unsigned port = 0;
    GetPeerName(connectionId, address, port);
    const std::string from = address.empty() ? std::string() : FormatPlayerId(address, port);

    if (StartsWith(line, "NAKJ")) {
      memberState_ = MemberState::kNotMember;
      membership_->joinTarget.playerId.clear();
      QueueMessage(from.c_str(), ZEP_MT_JOINRESPONSE, "NAKJ", rest.c_str());
      return 1;
    }
    memberState_ = MemberState::kMember;
    membership_->owner.playerId = from;
    membership_->owner.connectionId = connectionId;
    SendGameToServer();
    QueueMessage(from.c_str(), ZEP_MT_JOINRESPONSE, "AKNJ", rest.c_str());
    return 1;
  }

  if (memberState_ == MemberState::kMember && StartsWith(line, "ADDP")) {
    const std::string playerText = From(line, kCommandPrefix, kMaxField);
    if (membership_->MemberCount() >= kMaxAnnouncedPlayers) {
      std::string address;
      unsigned port = 0;
      if (!ParsePlayerText(playerText, address, port) ||
          membership_->FindMember(FormatPlayerId(address, port)) == nullptr)
        return 1;
    }
    // An announcement naming no player enters nobody and tells nobody.
    if (const CPlayerObject* added = membership_->AddMember(playerText))
      QueuePeerMessage(added->playerId, ZEP_MT_ADDPLAYER, std::string_view("ADDP"), playerText);
    return 1;
  }

  if (memberState_ == MemberState::kMember && StartsWith(line, "REMP")) {
    const std::string playerId = From(line, kCommandPrefix, kMaxField);
    const bool known = membership_->RemoveMember(playerId);
    QueuePeerMessage(known ? std::string_view(playerId) : std::string_view(), ZEP_MT_REMPLAYER,
                     std::string_view("REMP"), playerId);
    return 1;
  }
  return 1;
}

// ------------------------------------------------------------ user messages

// Inline: every user message in and out looks its connection up.
inline CClientSocket* CAgentSession::PeerSocket(std::uint32_t connectionId) {
  CAgent2Agent* peers = PeerManager();
  return peers != nullptr ? peers->FindConnection(connectionId) : nullptr;
}

inline std::pair<std::string_view, std::string_view> CAgentSession::ConnectionPlayerIds(
    std::uint32_t connectionId, std::string& ownScratch, std::string& peerScratch) {
  if (const CClientSocket* socket = PeerSocket(connectionId)) {
    const std::string* own = socket->SockId();
    if (const std::string* peer = own != nullptr ? socket->PeerId() : nullptr) [[likely]]
      return {*own, *peer};
  }
  return {ConnectionPlayerId(connectionId, true, ownScratch), ConnectionPlayerId(connectionId, false, peerScratch)};
}

PLAT_HOT_PATH int CAgentSession::SendMsgToUser(const char* playerId, const char* message) {
  if (!IsOpen()) return ZEP_RET_NOTOPENSESSION;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (playerId == nullptr || message == nullptr) return ZEP_RET_INVALIDSTRING;
  if (!owner_ && memberState_ == MemberState::kNotMember) return ZEP_RET_NOTINSUBGROUP;

  // The caller's text: nothing below runs the caller's code before the
  // call returns (notifications are posted), so it stays as it is.
  const std::string_view target = playerId;
  // The receiving agent reads a message to kMaxField characters and no
  // further; sending more would only risk a frame over what agents take.
  const std::string_view text = std::string_view(message).substr(0, kMaxField);
  if (owner_) {
    const CPlayerObject* member = players_->FindPlayer(target);
    if (member == nullptr) return ZEP_RET_INVALIDPLAYERID;
    // The owner signs with its own end of that member's connection: that is
    // the id under which the member knows its owner.
    CClientSocket* socket = PeerSocket(member->connectionId);
    const std::string* own = socket != nullptr ? socket->SockId() : nullptr;
    std::string scratch;
    const std::string_view self =
        own != nullptr ? std::string_view(*own) : ConnectionPlayerId(member->connectionId, true, scratch);
    if (!SendUserLine(socket, "OWNS", self, text)) {
      players_->RemovePlayer(std::string(target));
      owner_ = players_->PlayerCount() != 0;
      QueueMessage(playerId, ZEP_MT_NODELIVERY, playerId, message);
    }
    return ZEP_RET_OK;
  }

  if (memberState_ == MemberState::kMember) {
    if (membership_->FindMember(target) == nullptr && !SameText(target, membership_->owner.playerId))
      return ZEP_RET_INVALIDPLAYERID;
    if (!SendUserLine(membership_->owner.connectionId, "PLRS", target, text)) {
      // The owner's connection is gone with the failed send. The players it
      // announced are forgotten too, so that a later subgroup starts clean.
      memberState_ = MemberState::kNotMember;
      membership_->RemoveAllMembers();
      QueueMessage(kNoOwner, ZEP_MT_LOSTOWNER, nullptr, nullptr);
    }
  }
  // Still joining: there is no one to send to yet.
  return ZEP_RET_OK;
}

PLAT_HOT_PATH int CAgentSession::UserMessageStep(std::uint32_t connectionId, const std::string& line) {
  if (!owner_ && memberState_ == MemberState::kNotMember) {
    // Not in any subgroup: whoever sends user messages here has no business.
    AASend(connectionId, std::string(), kClose);
    return 0;
  }
  if (!owner_ && memberState_ == MemberState::kJoining) return 1;

  const UserLine parsed = SplitUserLine(line);

  if (owner_) {
    // An owner only ever receives PLRS; anything else is dropped, and the
    // rest of what that connection sent waits for its next notification.
    if (!StartsWith(line, "PLRS")) return 0;
    // Views of this connection's names, which live as long as it does: the
    // only connection a send below may close is the target's.
    std::string selfScratch, senderScratch;
    const auto [self, sender] = ConnectionPlayerIds(connectionId, selfScratch, senderScratch);

    // Addressed to us (by our end of this connection) from a member.
    if (SameText(parsed.id, self) && players_->FindPlayer(sender) != nullptr) {
      QueuePeerMessage(sender, ZEP_MT_USERMSG, parsed.message);
      return 1;
    }
    // Otherwise relay it to the member it names, signed with the sender's id.
    const CPlayerObject* target = players_->FindPlayer(parsed.id);
    if (target == nullptr) {
      AASend(connectionId, "DLVF " + From(line, kCommandPrefix), kKeepOpen);
      return 1;
    }
    if (!SendUserLine(target->connectionId, "OWNS", sender, parsed.message)) {
      // `target` may not outlive the removal: the id is read from the line.
      SendUserLine(connectionId, "DLVF", parsed.id, parsed.message);
      players_->RemovePlayer(std::string(parsed.id));
      owner_ = players_->PlayerCount() != 0;
    }
    return 1;
  }

  // Member.
  if (StartsWith(line, "OWNS")) {
    // Only players of this subgroup (and its owner) may speak here.
    if (membership_->FindMember(parsed.id) != nullptr || SameText(parsed.id, membership_->owner.playerId))
      QueuePeerMessage(parsed.id, ZEP_MT_USERMSG, parsed.message);
  } else if (StartsWith(line, "DLVF")) {
    QueuePeerMessage(parsed.id, ZEP_MT_NODELIVERY, parsed.message, std::string_view("MSGFAIL"));
  }
  return 1;
}

// ----------------------------------------------------- leaving and losing

int CAgentSession::LeaveSubGroup() {
  if (!IsOpen()) return ZEP_RET_NOTOPENSESSION;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (!owner_ && memberState_ == MemberState::kNotMember) return ZEP_RET_NOTINSUBGROUP;

  if (owner_) {
    // Members learn of it from their closed connections, requesters from
    // "NAKJ LEAV".
    players_->LeaveAll();
    owner_ = false;
    QueueMessage(kNoOwner, ZEP_MT_LOSTOWNER, nullptr, nullptr);
  } else if (memberState_ == MemberState::kMember) {
    AASend(membership_->owner.connectionId, std::string(), kClose);
    membership_->RemoveAllMembers();
    memberState_ = MemberState::kNotMember;
    QueueMessage(membership_->owner.playerId.c_str(), ZEP_MT_LOSTOWNER, nullptr, nullptr);
  }
  // Joining: the request stands; ZEPAbortSubGroupJoinRequest withdraws it.
  return ZEP_RET_OK;
}

void CAgentSession::OnAgentLost(std::uint32_t connectionId) {
  if (!IsUsable()) return;
  if (owner_) {
    // A connection that belongs to no member (a requester's, one whose
    // member was already removed) changes nothing and is not reported.
    const CPlayerObject* member = players_->FindPlayerByConnection(connectionId);
    if (member == nullptr) return;
    const std::string memberId = member->playerId;
    players_->RemovePlayer(memberId);
    owner_ = players_->PlayerCount() != 0;
    QueueMessage(memberId.c_str(), ZEP_MT_REMPLAYER, nullptr, nullptr);
    return;
  }
  if (memberState_ == MemberState::kMember) {
    // Only the owner's connection ends a membership. Taking any lost
    // connection for the owner's would let a stranger that connects and
    // hangs up, or the requester's connection of our own JOIN closing after
    // the owner's AKNJ has already arrived, throw the member out of a
    // subgroup whose owner is still there.
    if (connectionId != membership_->owner.connectionId) return;
    membership_->RemoveAllMembers();
    memberState_ = MemberState::kNotMember;
    QueueMessage(membership_->owner.playerId.c_str(), ZEP_MT_LOSTOWNER, nullptr, nullptr);
  }
}

// ------------------------------------------------------------------ status

int CAgentSession::GetPlayerSubGroupStatus(const char* playerId, int* status) {
  if (!IsOpen()) return ZEP_RET_NOTOPENSESSION;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (playerId == nullptr) return ZEP_RET_INVALIDSTRING;
  if (status == nullptr) return ZEP_RET_INVALIDPOINTER;

  const std::string id = playerId;
  int result = ZEP_SG_NOSG;
  if (memberState_ == MemberState::kMember) {
    if (membership_->FindMember(id) != nullptr)
      result = ZEP_SG_MEMBER;
    else if (id == membership_->owner.playerId)
      result = ZEP_SG_OWNER;
  } else if (owner_ && players_->FindPlayer(id) != nullptr) {
    result = ZEP_SG_MEMBER;
  }
  *status = result;
  return ZEP_RET_OK;
}

// ---------------------------------------------------------------- dispatch

PLAT_HOT_PATH int CAgentSession::OnAgentLine(std::uint32_t connectionId, const std::string& line) {
  if (!IsUsable()) return 1;
  switch (CommandOf(line)) {
    case Word("JOIN"):
    case Word("TERM"):
      return IncomingRequestStep(connectionId, line);
    case Word("NAKJ"):
    case Word("AKNJ"):
    case Word("ADDP"):
    case Word("REMP"):
      return OwnerLineStep(connectionId, line);
    case Word("OWNS"):
    case Word("PLRS"):
    case Word("DLVF"):
      return UserMessageStep(connectionId, line);
    default:
      return 1;
  }
}

std::string_view CAgentSession::ConnectionPlayerId(std::uint32_t connectionId, bool ownEnd,
                                                  std::string& scratch) {
  if (CAgent2Agent* peers = PeerManager()) {
    if (const CClientSocket* socket = peers->FindConnection(connectionId)) {
      if (const std::string* id = ownEnd ? socket->SockId() : socket->PeerId()) return *id;
    }
  }
  std::string address;
  unsigned port = 0;
  if (ownEnd)
    GetSockName(connectionId, address, port);
  else
    GetPeerName(connectionId, address, port);
  scratch = FormatPlayerId(address, port);
  return scratch;
}

int CAgentSession::SendUserLine(std::uint32_t connectionId, std::string_view command, std::string_view id,
                                std::string_view message) {
  CClientSocket* socket = PeerSocket(connectionId);
  return socket != nullptr ? PeerManager()->SendLine(socket, command, id, message) : 0;
}

int CAgentSession::SendUserLine(CClientSocket* socket, std::string_view command, std::string_view id,
                                std::string_view message) {
  // A socket exists only where its manager does.
  return socket != nullptr ? PeerManager()->SendLine(socket, command, id, message) : 0;
}

void CAgentSession::SendGameToServer() {
  // Tells the server this player is now busy in a game.
  if (serverState_ == ServerState::kInServer) ASSend("GAME", kKeepOpen);
}

}  // namespace zep
