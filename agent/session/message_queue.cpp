#include "message_queue.hpp"

#include <algorithm>
#include <cstring>

#include "platform/hot_path.hpp"
#include "short_bytes.hpp"

namespace zep {
namespace {

constexpr std::string_view kNoValue = "  ";

// Copies `value`, cut to `size` - 1 characters, with its NUL to `out`;
// returns the characters copied.
inline std::uint16_t PutField(char* out, std::string_view value, std::size_t size) {
  const std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
  CopyBytes(out, value.data(), n);  // (an empty view may hold a null pointer: nothing is read then)
  out[n] = '\0';
  return static_cast<std::uint16_t>(n);
}

}  // namespace

void CQueuedMessage::Assign(std::string_view id, int messageType, std::string_view messageText,
                            std::string_view more) {
  type = messageType;
  playerIdSize = PutField(bytes, id, kPlayerIdSize);
  char* w = bytes + playerIdSize + 1;
  textSize = PutField(w, messageText, kTextSize);
  moreInfoSize = PutField(w + textSize + 1, more, kTextSize);
}

PLAT_HOT_PATH void CQueuedMessage::Assign(std::string_view id, int messageType, std::string_view messageText) {
  type = messageType;
  const std::size_t idSize = id.size();
  const std::size_t size = messageText.size();
  // A user line's id and message usually lie one blank apart, as they lie
  // here one NUL apart: both are then copied at once.
  if (reinterpret_cast<std::uintptr_t>(messageText.data()) ==
          reinterpret_cast<std::uintptr_t>(id.data()) + idSize + 1 &&
      idSize < kPlayerIdSize && size < kTextSize) {
    std::memcpy(bytes, id.data(), idSize + 1 + size);
    bytes[idSize] = '\0';
    bytes[idSize + 1 + size] = '\0';
    playerIdSize = static_cast<std::uint16_t>(idSize);
    textSize = static_cast<std::uint16_t>(size);
  } else {
    playerIdSize = PutField(bytes, id, kPlayerIdSize);
    textSize = PutField(bytes + playerIdSize + 1, messageText, kTextSize);
  }
  char* more = bytes + playerIdSize + 1 + textSize + 1;
  std::memcpy(more, kNoValue.data(), kNoValue.size() + 1);
  moreInfoSize = static_cast<std::uint16_t>(kNoValue.size());
}

void CQueuedMessage::ReplaceText(std::string_view newText) {
  // The more-info moves to behind the new text; it may be there already in
  // part, so it is moved, not copied (its NUL with it).
  const std::size_t size = newText.size() < kTextSize - 1 ? newText.size() : kTextSize - 1;
  char* text = bytes + playerIdSize + 1;
  std::memmove(text + size + 1, MoreInfoStart(), std::size_t{moreInfoSize} + 1);
  textSize = PutField(text, newText, kTextSize);
}

PLAT_HOT_PATH bool CMessageQueue::Push(const QueuedText& playerId, int type, const QueuedText& text,
                         const QueuedText& moreInfo) {
  const bool wasEmpty = records_.empty();
  records_.PushSlot().Assign(playerId.value_or(kNoValue), type, text.value_or(kNoValue),
                             moreInfo.value_or(kNoValue));
  return wasEmpty;
}

PLAT_HOT_PATH bool CMessageQueue::Push(std::string_view playerId, int type, std::string_view text) {
  const bool wasEmpty = records_.empty();
  records_.PushSlot().Assign(playerId, type, text);
  return wasEmpty;
}

PLAT_HOT_PATH int CMessageQueue::TakeFront(char* playerId, int* type, char* text, char* moreInfo) noexcept {
  const CQueuedMessage& m = records_.front();
  // Each field with its NUL. The sizes are read first: the caller's
  // buffers could alias anything for all the compiler knows, which would
  // have it read them again after every copy.
  const std::size_t idSize = std::size_t{m.playerIdSize} + 1;
  const std::size_t textSize = std::size_t{m.textSize} + 1;
  const std::size_t moreInfoSize = std::size_t{m.moreInfoSize} + 1;
  *type = m.type;
  CopyBytes(playerId, m.bytes, idSize);
  CopyBytes(moreInfo, m.bytes + idSize + textSize, moreInfoSize);
  CopyBytes(text, m.bytes + idSize, textSize);
  records_.pop_front();
  records_.ShrinkIfEmpty(kKeptSlots);
  return ZEP_RET_OK;
}

bool CMessageQueue::ReplaceUnreadText(int type, std::string_view text, std::string_view moreInfo,
                                      std::string_view newText) {
  for (std::size_t i = 0; i < records_.size(); ++i) {
    CQueuedMessage& m = records_.At(i);
    if (m.type == type && m.text() == text && m.moreInfo() == moreInfo) {
      m.ReplaceText(newText);
      return true;
    }
  }
  return false;
}

void CMessageQueue::Clear() {
  records_.clear();
  records_.ShrinkIfEmpty(kKeptSlots);
}

void CopyField(char* buffer, std::size_t size, std::string_view value) {
  if (size == 0) return;
  const std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
}

}  // namespace zep
