// The help window with files that are not what they should be: pipes,
// oversized files, pictures and links that lead to either. Nothing waits and
// nothing is read past its bound.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <QTextDocument>
#include <QUrl>
#include <string>

#include "core/help_window.hpp"
#include "platform/temp_files.hpp"

namespace {

using lobby::HelpWindow;
using test_support::TempDir;
using test_support::WriteFile;

class Help : public ::testing::Test {
 protected:
  // C:\ is the scratch folder.
  std::string Windows(const std::string& name) const { return "C:\\" + name; }
  std::string Native(const std::string& name) const { return dir_ / ("c/" + name); }
  void Pipe(const std::string& name) { ASSERT_EQ(mkfifo(Native(name).c_str(), 0600), 0); }
  QString Shown() const { return window_.browser()->toPlainText(); }

  TempDir dir_;
  test_support::ScopedEnv drives_{"LOBBY_DRIVES", dir_.path()};
  HelpWindow window_;
};

TEST_F(Help, APipeOrAnOversizedFileIsReportedAsUnreadable) {
  WriteFile(Native("Corva.hlp"), "");  // makes c/
  std::remove(Native("Corva.hlp").c_str());
  Pipe("Corva.hlp");
  window_.ShowContents(Windows("Corva.hlp"));
  EXPECT_TRUE(Shown().contains("could not be read")) << Shown().toStdString();

  WriteFile(Native("Big.hlp"), std::string(lobby::kMaxHelpBytes + 1, 'x'));
  window_.ShowContents(Windows("Big.hlp"));
  EXPECT_TRUE(Shown().contains("could not be read"));

  WriteFile(Native("Small.hlp"), "<h1>Registering</h1>");
  window_.ShowContents(Windows("Small.hlp"));
  EXPECT_EQ(Shown(), "Registering");
}

TEST_F(Help, PicturesAndLinksAreReadTheSameWay) {
  QImage picture(4, 3, QImage::Format_RGB32);
  picture.fill(Qt::red);
  WriteFile(Native("x"), "");
  ASSERT_TRUE(picture.save(QString::fromStdString(Native("board.png")), "PNG"));
  Pipe("stuck.png");
  Pipe("stuck.html");
  WriteFile(Native("more.html"), "<p>Offering a game</p>");
  WriteFile(Native("Corva.hlp"),
            "<p>Rules</p><img src=\"board.png\"><img src=\"stuck.png\">"
            "<a href=\"more.html\">more</a> <a href=\"stuck.html\">stuck</a>");
  window_.ShowContents(Windows("Corva.hlp"));
  EXPECT_TRUE(Shown().startsWith("Rules"));
  QTextDocument* document = window_.browser()->document();
  const QVariant board = document->resource(QTextDocument::ImageResource, QUrl("board.png"));
  EXPECT_FALSE(board.isNull());

  window_.browser()->setSource(QUrl("stuck.html"));
  window_.browser()->setSource(QUrl("more.html"));
  EXPECT_EQ(Shown(), "Offering a game");
}

}  // namespace
