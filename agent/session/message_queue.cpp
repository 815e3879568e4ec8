#include "message_queue.hpp"

#include <cstring>

namespace zep {
namespace {

constexpr std::string_view kNoValue = "  ";

std::string Field(QueuedText value, std::size_t size) {
  return std::string(value.value_or(kNoValue).substr(0, size - 1));
}

}  // namespace

bool CMessageQueue::Push(QueuedText playerId, int type, QueuedText text, QueuedText moreInfo) {
  const bool wasEmpty = records_.empty();
  CQueuedMessage& m = records_.emplace_back();
  m.playerId = Field(playerId, CQueuedMessage::kPlayerIdSize);
  m.type = type;
  m.text = Field(text, CQueuedMessage::kTextSize);
  m.moreInfo = Field(moreInfo, CQueuedMessage::kTextSize);
  return wasEmpty;
}

bool CMessageQueue::Pop(CQueuedMessage& out) {
  if (records_.empty()) return false;
  out = std::move(records_.front());
  records_.pop_front();
  return true;
}

bool CMessageQueue::ReplaceUnreadText(int type, std::string_view text, std::string_view moreInfo,
                                      std::string_view newText) {
  for (CQueuedMessage& m : records_) {
    if (m.type == type && m.text == text && m.moreInfo == moreInfo) {
      m.text = Field(newText, CQueuedMessage::kTextSize);
      return true;
    }
  }
  return false;
}

void CopyField(char* buffer, std::size_t size, std::string_view value) {
  if (size == 0) return;
  const std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
}

}  // namespace zep
