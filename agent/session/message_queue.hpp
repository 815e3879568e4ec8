// message_queue.hpp - the queue of messages waiting for the client
// (internal). First in, first out; every field is cut to its fixed size when
// the record is made, so a record always fits the caller's buffers of
// ZEPGetNextMessage.
//
// Messages that other programs can cause at will (users found, join
// requests, user messages, announcements) are only taken while fewer than
// kMaxPeerMessages wait; the outcomes of the client's own calls and of its
// connections (registration, a query's end, join answers, lost server or
// owner) are always taken, and there are only ever a few of those.
//
// The records live in a ring whose slots are reused, each with room for its
// fields at their full sizes, so that a message going through the queue
// costs no allocation once the ring has room for what is waiting; after a
// burst, a queue that empties gives back all but a few slots.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/ring.hpp"

#include "zep/zep.h"

namespace zep {

// A queued message. Its three fields lie one after the other in one block,
// each NUL-terminated, so that a short message is written and read in the
// first lines of its slot (the sizes and the type are in the first one);
// the block has room for every field at its full size.
struct CQueuedMessage {
  // Sizes include the terminating NUL.
  static constexpr std::size_t kPlayerIdSize = ZEP_PLAYERID_SIZE;
  static constexpr std::size_t kTextSize = ZEP_TEXT_SIZE;

  std::uint16_t playerIdSize = 0;  // at most 99 characters
  std::uint16_t textSize = 0;      // at most 499 characters
  std::uint16_t moreInfoSize = 0;  // at most 499 characters
  int type = 0;
  // Not zeroed: only what the sizes cover is ever read.
  char bytes[kPlayerIdSize + 2 * kTextSize];

  std::string_view playerId() const { return {bytes, playerIdSize}; }
  std::string_view text() const { return {TextStart(), textSize}; }
  std::string_view moreInfo() const { return {MoreInfoStart(), moreInfoSize}; }
  const char* TextStart() const { return bytes + playerIdSize + 1; }
  const char* MoreInfoStart() const { return TextStart() + textSize + 1; }

  // Every field, each cut to its size.
  void Assign(std::string_view playerId, int type, std::string_view text, std::string_view moreInfo);
  // The same with no value for the more-info.
  void Assign(std::string_view playerId, int type, std::string_view text);
  // A new text (cut to size) with the same more-info behind it.
  void ReplaceText(std::string_view newText);
};

// A field of a message to queue; no value (std::nullopt) is stored as two
// blanks.
using QueuedText = std::optional<std::string_view>;

class CMessageQueue {
 public:
  // A client reads its queue whenever it is told of it; a query asks for
  // 100 users at most. Only a client that stopped reading, or a peer
  // flooding it, comes near this (about 1.2 KB a message).
  static constexpr std::size_t kMaxPeerMessages = 1024;

  // Copies each field, cut to its size. Returns true when the queue was
  // empty before.
  bool Push(const QueuedText& playerId, int type, const QueuedText& text,
            const QueuedText& moreInfo);
  // The same for a message with no more-info (a user's message), its fields
  // passed in registers.
  bool Push(std::string_view playerId, int type, std::string_view text);
  // Copies the oldest message into the caller's buffers (of the sizes
  // above) and drops it; false when the queue is empty.
  // (The empty queue's answer, which ends every read of the client, is
  // given inline.)
  bool PopInto(char* playerId, int* type, char* text, char* moreInfo) {
    return !records_.empty() && TakeFront(playerId, type, text, moreInfo) == ZEP_RET_OK;
  }
  // The same for a queue known not to be empty; always ZEP_RET_OK, so that
  // the client's read can end with this call (a jump, no registers saved).
  int TakeFront(char* playerId, int* type, char* text, char* moreInfo) noexcept;
  // Gives the oldest unread message of `type` with this text and moreInfo a
  // new text (cut to size) where it stands in the queue. False when no such
  // message waits: the client has read it already.
  bool ReplaceUnreadText(int type, std::string_view text, std::string_view moreInfo,
                         std::string_view newText);
  bool IsEmpty() const { return records_.empty(); }
  // Room for one more message caused by a peer.
  bool HasRoomForPeerMessage() const { return records_.size() < kMaxPeerMessages; }
  std::size_t Size() const { return records_.size(); }
  void Clear();

 private:
  // Slots an empty queue keeps.
  static constexpr std::size_t kKeptSlots = 8;

  platform::Ring<CQueuedMessage> records_;
};

// Copies `value` into a buffer of `size` bytes, cut to size - 1 characters
// and NUL-terminated.
void CopyField(char* buffer, std::size_t size, std::string_view value);

}  // namespace zep
