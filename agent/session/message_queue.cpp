#include "message_queue.hpp"

#include <cstring>

namespace zep {
namespace {

constexpr std::string_view kNoValue = "  ";

}  // namespace

bool CMessageQueue::Push(const QueuedText& playerId, int type, const QueuedText& text,
                         const QueuedText& moreInfo) {
  const bool wasEmpty = records_.empty();
  CQueuedMessage& m = records_.PushSlot();
  m.playerId.Assign(playerId.value_or(kNoValue));
  m.type = type;
  m.text.Assign(text.value_or(kNoValue));
  m.moreInfo.Assign(moreInfo.value_or(kNoValue));
  return wasEmpty;
}

bool CMessageQueue::PopFrontInto(char* playerId, int* type, char* text, char* moreInfo) {
  const CQueuedMessage& m = records_.front();
  m.playerId.CopyTo(playerId);
  *type = m.type;
  m.text.CopyTo(text);
  m.moreInfo.CopyTo(moreInfo);
  records_.pop_front();
  records_.ShrinkIfEmpty(kKeptSlots);
  return true;
}

bool CMessageQueue::ReplaceUnreadText(int type, std::string_view text, std::string_view moreInfo,
                                      std::string_view newText) {
  for (std::size_t i = 0; i < records_.size(); ++i) {
    CQueuedMessage& m = records_.At(i);
    if (m.type == type && m.text.view() == text && m.moreInfo.view() == moreInfo) {
      m.text.Assign(newText);
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
