#include "message_queue.hpp"

#include <cstring>

namespace zep {
namespace {

constexpr std::string_view kNoValue = "  ";

void AssignField(std::string& field, QueuedText value, std::size_t size) {
  field.assign(value.value_or(kNoValue).substr(0, size - 1));
}

}  // namespace

bool CMessageQueue::Push(QueuedText playerId, int type, QueuedText text, QueuedText moreInfo) {
  const bool wasEmpty = records_.empty();
  CQueuedMessage& m = records_.PushSlot();
  AssignField(m.playerId, playerId, CQueuedMessage::kPlayerIdSize);
  m.type = type;
  AssignField(m.text, text, CQueuedMessage::kTextSize);
  AssignField(m.moreInfo, moreInfo, CQueuedMessage::kTextSize);
  return wasEmpty;
}

bool CMessageQueue::PopInto(char* playerId, int* type, char* text, char* moreInfo) {
  if (records_.empty()) return false;
  const CQueuedMessage& m = records_.front();
  CopyField(playerId, CQueuedMessage::kPlayerIdSize, m.playerId);
  *type = m.type;
  CopyField(text, CQueuedMessage::kTextSize, m.text);
  CopyField(moreInfo, CQueuedMessage::kTextSize, m.moreInfo);
  records_.pop_front();
  records_.ShrinkIfEmpty(kKeptSlots);
  return true;
}

bool CMessageQueue::ReplaceUnreadText(int type, std::string_view text, std::string_view moreInfo,
                                      std::string_view newText) {
  for (std::size_t i = 0; i < records_.size(); ++i) {
    CQueuedMessage& m = records_.At(i);
    if (m.type == type && m.text == text && m.moreInfo == moreInfo) {
      AssignField(m.text, newText, CQueuedMessage::kTextSize);
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
