// render_windows - draws the client's seven windows, with believable
// content, and the button faces to PNG files for the documentation.
//
//   render_windows [--install-dir DIR] [OUTPUT_DIR]      (default docs/images)
//
// Runs offscreen against the recording stand-in of the agent, so no server
// and no display are needed. The background bitmap comes from an installed
// data directory (--install-dir, else the one WIN.INI names); where there is
// none, a deep-blue stand-in tile is drawn so that the white labels read.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/bitmap_button.hpp"
#include "core/client_app.hpp"
#include "core/client_values.hpp"
#include "core/glyphs.hpp"
#include "core/profile_files.hpp"
#include "dialogs/accept_form.hpp"
#include "dialogs/connect_form.hpp"
#include "dialogs/message_form.hpp"
#include "dialogs/server_form.hpp"
#include "dialogs/suggest_form.hpp"
#include "core/open_form.hpp"
#include "core/test_form.hpp"
#include "support/call_recorder.hpp"
#include "zep/zep.h"

namespace {

namespace fs = std::filesystem;
using namespace lobby;

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A tile in the client's colours for when no installed bitmap is at hand.
void DrawStandInBackground(const fs::path& file) {
  QImage tile(96, 96, QImage::Format_RGB32);
  QPainter p(&tile);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 96, 96);
  g.setColorAt(0, QColor(10, 22, 70));
  g.setColorAt(1, QColor(6, 14, 50));
  p.fillRect(tile.rect(), g);
  p.setPen(QPen(QColor(60, 100, 200, 60), 1));
  for (int i = -96; i < 96; i += 12) p.drawLine(i, 0, i + 96, 96);
  p.end();
  fs::create_directories(file.parent_path());
  tile.save(QString::fromStdString(file.string()), "BMP");
}

bool Save(QWidget* window, const QString& dir, const char* name) {
  if (window == nullptr) return false;
  const QString path = dir + "/" + name;
  const bool ok = window->grab().save(path, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

// One row per glyph, its faces in the sizes the windows use, in all four
// states.
bool SaveButtonSheet(const QString& dir) {
  struct Row {
    Glyph glyph;
    QSize size;
    const char* label;
  };
  const Row rows[] = {{Glyph::Ok, {85, 41}, "OK"},           {Glyph::Cancel, {85, 41}, "Cancel"},
                      {Glyph::Exit, {74, 36}, "Exit"},       {Glyph::Help, {69, 40}, "Help"},
                      {Glyph::Server, {81, 41}, "Server"},   {Glyph::Refresh, {81, 41}, "Refresh"},
                      {Glyph::Offer, {81, 41}, "Offer"},     {Glyph::Accept, {85, 41}, "Accept"},
                      {Glyph::Refuse, {85, 41}, "Refuse"},   {Glyph::MusicOn, {74, 43}, "MusicOn"},
                      {Glyph::MusicOff, {74, 43}, "MusicOff"}, {Glyph::MusicOn, {81, 49}, "MusicOn"},
                      {Glyph::MusicOff, {81, 49}, "MusicOff"}, {Glyph::Search, {65, 65}, "Search"}};
  const GlyphState states[] = {GlyphState::Up, GlyphState::Down, GlyphState::StaysDown, GlyphState::Disabled};
  const char* stateNames[] = {"up", "down", "stays down", "disabled"};
  const int cellW = 110, labelW = 80, top = 24;
  int height = top;
  for (const Row& row : rows) height += row.size.height() + 12;
  QImage sheet(labelW + cellW * 4 + 10, height + 8, QImage::Format_ARGB32);
  sheet.fill(QColor(8, 18, 58));
  QPainter p(&sheet);
  p.setPen(Qt::white);
  QFont font("DejaVu Sans");
  font.setPixelSize(11);
  p.setFont(font);
  for (int s = 0; s < 4; ++s) p.drawText(labelW + s * cellW, 4, cellW, 16, Qt::AlignCenter, stateNames[s]);
  int y = top;
  for (const Row& row : rows) {
    p.drawText(6, y, labelW - 8, row.size.height(), Qt::AlignVCenter | Qt::AlignLeft, row.label);
    for (int s = 0; s < 4; ++s)
      p.drawPixmap(labelW + s * cellW + (cellW - row.size.width()) / 2, y, DrawGlyph(row.glyph, row.size, states[s]));
    y += row.size.height() + 12;
  }
  p.end();
  const QString path = dir + "/buttons.png";
  const bool ok = sheet.save(path, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));

  QImage pictures(137 + 32 + 32 + 40, 169 + 16, QImage::Format_ARGB32);
  pictures.fill(QColor(8, 18, 58));
  QPainter q(&pictures);
  q.drawPixmap(8, 8, DrawQueryPicture(QSize(137, 169)));
  q.drawPixmap(137 + 20, 8, DrawMalePicture(QSize(32, 32)));
  q.drawPixmap(137 + 20 + 40, 8, DrawFemalePicture(QSize(32, 32)));
  q.end();
  const QString picturePath = dir + "/pictures.png";
  const bool pictureOk = pictures.save(picturePath, "PNG");
  std::printf("%s %s\n", pictureOk ? "wrote" : "FAILED", qPrintable(picturePath));
  return ok && pictureOk;
}

const char* const kPlayers[] = {
    "ID=127.0.0.1:2002;OWN=1.1.1.1;VERSION=0.90b1;REAL=Maria Lindqvist;DESC=Plays every evening, likes long "
    "games and a friendly chat.;CITY=Uppsala;COUNTRY=Sweden;AGE=29;SEX=1;EMAIL=maria@example.org;",
    "ID=127.0.0.1:2003;OWN=1.1.1.1;VERSION=0.90b1;REAL=Tom Becker;DESC=Beginner, be patient :-);CITY=Bremen;"
    "COUNTRY=Germany;AGE=41;SEX=0;EMAIL=tom.becker@example.net;",
    "ID=127.0.0.1:2004;OWN=1.1.1.1;VERSION=0.90b1;REAL=Aiko Tanaka;DESC=Quick games only.;CITY=Osaka;"
    "COUNTRY=Japan;AGE=23;SEX=1;EMAIL=aiko@example.jp;",
    "ID=127.0.0.1:2005;OWN=1.1.1.1;VERSION=0.90b1;REAL=Pedro Alves;DESC=Looking for a rematch!;CITY=Porto;"
    "COUNTRY=Portugal;AGE=35;SEX=0;EMAIL=pedro.alves@example.pt;",
};

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::string installDir;
  QString outDir = QStringLiteral("docs/images");
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--install-dir" && i + 1 < argc) {
      installDir = argv[++i];
    } else if (arg == "--help") {
      std::printf("usage: render_windows [--install-dir DIR] [OUTPUT_DIR]\n");
      return 0;
    } else {
      outDir = QString::fromStdString(arg);
    }
  }

  // The installed data as the program would find it, before the scratch
  // folder below takes the program's place.
  if (installDir.empty()) {
    const std::string named = ReadInstallDir();
    if (fs::exists(NativePath(named + "Bitmaps\\Cv_sec.bmp"))) installDir = NativePath(named);
  }
  // Everything the program writes goes to a scratch folder of its own.
  char scratchTemplate[] = "/tmp/lobby-render-XXXXXX";
  const fs::path scratch = mkdtemp(scratchTemplate);
  setenv("LOBBY_DRIVES", (scratch / "drives").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", scratch.c_str(), 1);
  const fs::path install = installDir.empty() ? scratch / "install" : fs::path(installDir);
  const fs::path data = scratch / "data";
  fs::create_directories(data / "Bitmaps");
  for (const char* bitmap : {"Cv_sec.bmp", "Cv_first.bmp"}) {
    const fs::path from = install / "Bitmaps" / bitmap;
    if (fs::exists(from))
      fs::copy_file(from, data / "Bitmaps" / bitmap, fs::copy_options::overwrite_existing);
    else
      DrawStandInBackground(data / "Bitmaps" / bitmap);
  }
  WriteText(data / "SERVERS.INI",
            "[QORServers]\nVersion=3\nServerCount=4\nCurrentServer=play.example.net\n"
            "Server1=127.0.0.1\nName1=This machine\nLocation1=here\n"
            "Server2=play.example.net\nName2=Main lobby\nLocation2=Frankfurt, Germany\n"
            "Server3=10.20.30.40\nName3=Club night\nLocation3=Lisbon, Portugal\n"
            "Server4=192.168.1.17\nName4=Office\nLocation4=Upstairs\n");
  WriteText(data / "VOSSA.INI",
            "[Vossa]\nRealName=Sam Porter\nDescription=Evenings and weekends, any level.\nCITY=Leeds\n"
            "COUNTRY=UK\nAGE=33\nSEX=0\nEMAIL=sam@example.co.uk\n");
  WriteText(scratch / "WIN.INI", "[QORGames]\nCorvanePath=" + data.string() + "\n");
  setenv("LOBBY_WIN_INI", (scratch / "WIN.INI").c_str(), 1);

  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  recorder::InstallRecordingSound();
  ResetValues();
  Values().InstallDir = data.string() + "\\";
  QDir().mkpath(outDir);

  ClientApp app;
  app.Start();
  Settle();
  Forms& forms = app.forms();
  ClientCore& core = app.core();
  // The splash's creation may have read the installation directory itself.
  Values().InstallDir = data.string() + "\\";
  bool ok = true;

  ok = Save(forms.Open, outDir, "splash.png") && ok;
  core.SetState(State::stRegister);
  Settle();
  ok = Save(forms.Test, outDir, "main.png") && ok;

  forms.ServerF->ShowAndActivate();
  Settle();
  forms.ServerF->ServerList->setCurrentRow(1);
  forms.ServerF->ServerListClick();
  Settle();
  ok = Save(forms.ServerF, outDir, "server.png") && ok;
  forms.ServerF->hide();

  Values().ServerAcknowledged = true;
  core.SetState(State::stLobby);
  Settle();
  TConnect* query = forms.Connect;
  ok = Save(query, outDir, "query_searching.png") && ok;
  for (const char* player : kPlayers)
    if (query->ListQueryResult(player)) query->EnableConnectButton();
  query->QueryEnded();
  query->ListUsers->setCurrentRow(0);
  query->bQueryOnClick();
  query->QCity->setText("Uppsala");
  query->QMaxAns->setCurrentIndex(1);
  Settle();
  ok = Save(query, outDir, "query.png") && ok;

  core.ShowMessageBox("Remote has declined your offer. Reason : Sorry, I am just leaving.");
  Settle();
  if (forms.MessageF != nullptr && query != nullptr) {
    ok = Save(forms.MessageF, outDir, "message.png") && ok;
    QPixmap over = query->grab();
    QPainter p(&over);
    const QPoint at = forms.MessageF->geometry().topLeft() - query->geometry().topLeft();
    p.drawPixmap(at, forms.MessageF->grab());
    p.end();
    const QString path = outDir + "/query_with_message.png";
    const bool saved = over.save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    ok = saved && ok;
    forms.MessageF->hide();
  }

  query->hide();
  core.HandleEvent(Event::evGo);  // in the lobby: the offer dialog
  Settle();
  ok = Save(forms.SuggestF, outDir, "offer_outgoing.png") && ok;

  core.SetState(State::stLobby);
  Settle();
  // Listed and answered again, after the selected player has left.
  for (const char* player : kPlayers) query->ListQueryResult(player);
  query->QueryEnded();
  query->SetQueryTimer(false);
  query->RefreshTimerTimer();
  for (const char* player : kPlayers)
    if (player != kPlayers[0]) query->ListQueryResult(player);
  query->QueryEnded();
  Settle();
  ok = Save(query, outDir, "query_player_left.png") && ok;

  Values().OfferName = "Aiko Tanaka";
  Values().OfferDesc = "Quick games only. Fancy one before lunch?";
  Values().OfferRecord = kPlayers[2];
  core.SetState(State::stOffered);
  Settle();
  forms.AcceptF->tRefuse->setText("Sorry, on the phone - later?");
  ok = Save(forms.AcceptF, outDir, "offer_incoming.png") && ok;

  ok = SaveButtonSheet(outDir) && ok;

  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  return ok ? 0 : 1;
}
