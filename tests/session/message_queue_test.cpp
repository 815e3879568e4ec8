// The client's message queue: first in, first out across the ring's wrap and
// growth, fields cut to the caller's buffers, and an unread message's text
// replaced where it stands.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "message_queue.hpp"

namespace {

struct Read {
  char id[ZEP_PLAYERID_SIZE];
  int type = 0;
  char text[ZEP_TEXT_SIZE];
  char more[ZEP_TEXT_SIZE];
};

TEST(MessageQueue, KeepsOrderAcrossWrapAndGrowthAndReplacesUnreadText) {
  zep::CMessageQueue queue;
  Read r;
  int next = 0;
  // Half full, then read, so that the ring's start has moved when it grows.
  for (int i = 0; i < 5; ++i) queue.Push(std::to_string(i), i, "t", std::nullopt);
  for (; next < 3; ++next) ASSERT_TRUE(queue.PopInto(r.id, &r.type, r.text, r.more));
  for (int i = 5; i < 40; ++i) queue.Push(std::to_string(i), i, "t", std::nullopt);
  EXPECT_TRUE(queue.ReplaceUnreadText(20, "t", "  ", "new"));
  for (; queue.PopInto(r.id, &r.type, r.text, r.more); ++next) {
    EXPECT_EQ(r.type, next);
    EXPECT_EQ(std::string(r.id), std::to_string(next));
    EXPECT_EQ(std::string(r.text), next == 20 ? "new" : "t");
    EXPECT_EQ(std::string(r.more), "  ");
  }
  EXPECT_EQ(next, 40);
  EXPECT_TRUE(queue.IsEmpty());

  // Emptied after the burst, it takes messages as before.
  EXPECT_TRUE(queue.Push(std::nullopt, 1, std::string(600, 'x'), "m"));
  ASSERT_TRUE(queue.PopInto(r.id, &r.type, r.text, r.more));
  EXPECT_EQ(std::string(r.id), "  ");
  EXPECT_EQ(std::string(r.text), std::string(ZEP_TEXT_SIZE - 1, 'x'));
}

TEST(MessageQueue, ReplacedTextKeepsTheMoreInfoBehindIt) {
  zep::CMessageQueue queue;
  Read r;
  const std::string more(ZEP_TEXT_SIZE - 1, 'm');
  queue.Push("p", 7, "short", more);
  queue.Push("q", 7, "other", "x");
  // Longer, cut to size; then shorter again: the more-info moves each time.
  ASSERT_TRUE(queue.ReplaceUnreadText(7, "short", more, std::string(700, 'L')));
  ASSERT_TRUE(queue.ReplaceUnreadText(7, std::string(ZEP_TEXT_SIZE - 1, 'L'), more, "s"));
  ASSERT_TRUE(queue.PopInto(r.id, &r.type, r.text, r.more));
  EXPECT_EQ(std::string(r.id), "p");
  EXPECT_EQ(std::string(r.text), "s");
  EXPECT_EQ(std::string(r.more), more);
  ASSERT_TRUE(queue.PopInto(r.id, &r.type, r.text, r.more));
  EXPECT_EQ(std::string(r.text), "other");
  EXPECT_EQ(std::string(r.more), "x");
}

// Different characters throughout, so that a byte copied to the wrong place
// shows.
std::string Pattern(std::size_t length, char first) {
  std::string s(length, ' ');
  for (std::size_t i = 0; i < length; ++i) s[i] = static_cast<char>(first + i % 26);
  return s;
}

TEST(MessageQueue, UserMessageFieldsOfEveryLengthComeBackWholeOrCut) {
  zep::CMessageQueue queue;
  Read r;
  for (std::size_t idLength : {0, 1, 2, 3, 4, 7, 8, 16, 17, 99, 120}) {
    for (std::size_t textLength : {0, 3, 15, 64, 499, 600}) {
      const std::string id = Pattern(idLength, 'a');
      const std::string text = Pattern(textLength, 'A');
      // As the fields lie in a line, one blank apart, and as two strings.
      const std::string line = "OWNS " + id + " " + text;
      const std::string_view view(line);
      queue.Push(view.substr(5, idLength), 1, view.substr(6 + idLength));
      queue.Push(id, 2, text);
      for (int type : {1, 2}) {
        ASSERT_TRUE(queue.PopInto(r.id, &r.type, r.text, r.more));
        EXPECT_EQ(r.type, type);
        EXPECT_EQ(std::string(r.id), id.substr(0, ZEP_PLAYERID_SIZE - 1)) << idLength << " " << textLength;
        EXPECT_EQ(std::string(r.text), text.substr(0, ZEP_TEXT_SIZE - 1)) << idLength << " " << textLength;
        EXPECT_EQ(std::string(r.more), "  ");
      }
    }
  }
  EXPECT_TRUE(queue.IsEmpty());
}

}  // namespace
