// Work put off until a widget is first polished: all of it, in order, once.
#include <gtest/gtest.h>

#include <QLabel>
#include <QWidget>
#include <string>

#include "dialogs/dialog_parts.hpp"

namespace {

using lobby::WhenFirstPolished;

TEST(FirstPolish, EverythingAskedRunsInOrderOnceWhenTheWindowIsFirstShown) {
  QWidget window;
  auto* label = new QLabel("Available Servers", &window);
  std::string ran;
  WhenFirstPolished(label, [&] { ran += "a"; });
  WhenFirstPolished(label, [&] { ran += "b"; });
  WhenFirstPolished(&window, [&] { ran += "w"; });
  EXPECT_EQ(ran, "");
  window.show();
  EXPECT_EQ(ran, "wab");
  window.hide();
  window.show();
  EXPECT_EQ(ran, "wab");
  // Asked of a widget already polished: done at once.
  WhenFirstPolished(label, [&] { ran += "c"; });
  EXPECT_EQ(ran, "wabc");
}

TEST(FirstPolish, ACaptionIsSizedToItsTextOnlyThen) {
  QWidget window;
  QLabel* label = lobby::AddLabel(&window, "Current Server", 96, 176);
  EXPECT_EQ(label->pos(), QPoint(96, 176));
  window.show();
  EXPECT_EQ(label->size(), label->sizeHint());
  EXPECT_EQ(label->pos(), QPoint(96, 176));
}

}  // namespace
