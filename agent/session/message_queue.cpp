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
  const bool wasEmpty = size_ == 0;
  if (size_ == slots_.size()) Grow();
  CQueuedMessage& m = At(size_);
  AssignField(m.playerId, playerId, CQueuedMessage::kPlayerIdSize);
  m.type = type;
  AssignField(m.text, text, CQueuedMessage::kTextSize);
  AssignField(m.moreInfo, moreInfo, CQueuedMessage::kTextSize);
  ++size_;
  return wasEmpty;
}

bool CMessageQueue::PopInto(char* playerId, int* type, char* text, char* moreInfo) {
  if (size_ == 0) return false;
  const CQueuedMessage& m = At(0);
  CopyField(playerId, CQueuedMessage::kPlayerIdSize, m.playerId);
  *type = m.type;
  CopyField(text, CQueuedMessage::kTextSize, m.text);
  CopyField(moreInfo, CQueuedMessage::kTextSize, m.moreInfo);
  head_ = (head_ + 1) % slots_.size();
  if (--size_ == 0 && slots_.size() > kKeptSlots) Clear();
  return true;
}

bool CMessageQueue::ReplaceUnreadText(int type, std::string_view text, std::string_view moreInfo,
                                      std::string_view newText) {
  for (std::size_t i = 0; i < size_; ++i) {
    CQueuedMessage& m = At(i);
    if (m.type == type && m.text == text && m.moreInfo == moreInfo) {
      AssignField(m.text, newText, CQueuedMessage::kTextSize);
      return true;
    }
  }
  return false;
}

void CMessageQueue::Clear() {
  head_ = 0;
  size_ = 0;
  if (slots_.size() > kKeptSlots) {
    slots_.resize(kKeptSlots);
    slots_.shrink_to_fit();
  }
}

// Twice the slots, the waiting messages moved to the front in order.
void CMessageQueue::Grow() {
  std::vector<CQueuedMessage> grown(slots_.empty() ? kKeptSlots : 2 * slots_.size());
  for (std::size_t i = 0; i < size_; ++i) grown[i] = std::move(At(i));
  slots_ = std::move(grown);
  head_ = 0;
}

void CopyField(char* buffer, std::size_t size, std::string_view value) {
  if (size == 0) return;
  const std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
}

}  // namespace zep
