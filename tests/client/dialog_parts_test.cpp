// Work put off until a widget is shown: all of it, in order, once.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <string>

#include "core/lobby_form.hpp"
#include "dialogs/dialog_parts.hpp"

namespace {

using lobby::WhenShown;

TEST(WhenShown, EverythingAskedRunsInOrderOnceWhenTheWindowIsFirstShown) {
  QWidget window;
  auto* label = new QLabel("Available Servers", &window);
  std::string ran;
  WhenShown(label, [&] { ran += "a"; });
  WhenShown(label, [&] { ran += "b"; });
  WhenShown(&window, [&] { ran += "w"; });
  // The loop turning polishes hidden widgets; that is no reason to do it.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  EXPECT_TRUE(label->testAttribute(Qt::WA_WState_Polished));
  EXPECT_EQ(ran, "");
  window.show();
  // Qt shows the children before it tells the window.
  EXPECT_EQ(ran, "abw");
  window.hide();
  window.show();
  EXPECT_EQ(ran, "abw");
  // Asked of a visible widget: done at once.
  WhenShown(label, [&] { ran += "c"; });
  EXPECT_EQ(ran, "abwc");
  // Asked of one hidden again: done when it is next shown.
  window.hide();
  WhenShown(label, [&] { ran += "d"; });
  EXPECT_EQ(ran, "abwc");
  window.show();
  EXPECT_EQ(ran, "abwcd");
}

TEST(WhenShown, ACaptionIsSizedToItsTextOnlyThen) {
  QWidget window;
  QLabel* label = lobby::AddLabel(&window, "Current Server", 96, 176);
  const QSize unsized = label->size();
  QCoreApplication::processEvents();
  EXPECT_EQ(label->size(), unsized);
  EXPECT_EQ(label->pos(), QPoint(96, 176));
  window.show();
  EXPECT_EQ(label->size(), label->sizeHint());
  EXPECT_EQ(label->pos(), QPoint(96, 176));
}

TEST(WhenShown, AFormTakesItsOwnFaceJustBeforeItsChildrenAreShown) {
  lobby::LobbyForm form("form", 200, 100);
  auto* edit = new QLineEdit(&form);
  const QFont face = lobby::DialogFont();
  ASSERT_NE(form.font().family(), face.family());
  form.SetFontWhenShown(face);
  QCoreApplication::processEvents();
  EXPECT_NE(edit->font().family(), face.family());
  // What a child measures when shown is measured in the form's face.
  QString measuredIn;
  WhenShown(edit, [&] { measuredIn = edit->font().family(); });
  form.show();
  EXPECT_EQ(measuredIn, face.family());
  EXPECT_EQ(form.font().family(), face.family());
  // Asked of a form on screen, the face is taken at once.
  QFont larger = face;
  larger.setPixelSize(15);
  form.SetFontWhenShown(larger);
  EXPECT_EQ(edit->font().pixelSize(), 15);
}

}  // namespace
