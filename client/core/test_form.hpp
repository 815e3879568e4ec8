// test_form.hpp - the main window TTest: the player's profile, registration,
// the server choice, help, music and exit (internal).
//
// The profile lives in VOSSA.INI in the installation directory; it is read
// whenever the window becomes active (edits not saved are then replaced) and
// written on every registration that passes the name check and on every
// opening of the server dialog. The window also holds the two hidden buttons
// whose platform windows receive the agent's and the game engine's
// notifications, and the 10 ms timers those notifications start.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <memory>
#include <string>

#include "core/bitmap_button.hpp"
#include "core/client_timer.hpp"
#include "record/description_record.hpp"
#include "core/forms.hpp"
#include "core/lobby_form.hpp"
#include "core/platform_button.hpp"
#include "platform/platform.h"

class QMessageBox;

namespace lobby {

class HelpWindow;

inline constexpr const char* kMainCaption = "QOR's Corvane Game - Entering the Vossa";
// The first line of the About box: five blanks, then the title.
inline constexpr const char* kAboutText = "     QOR's Corvane Game v0.91b2";
inline constexpr const char* kAboutMoreText = "A lobby for two-player games: meet a partner, then play.";

class TTest : public LobbyForm {
  Q_OBJECT
 public:
  explicit TTest(FormContext context);
  ~TTest() override;

  plat_hwnd AgentMessageWindow() const { return bAgentMessage->window(); }
  plat_hwnd HangmanWindow() const { return bHangman->window(); }
  // The texts of tRealName and tDescription as they stand.
  std::string RealNameText() const;
  std::string DescriptionText() const;

  // The profile file, Windows-style.
  std::string ProfilePath() const;
  // Writes the fields to the profile ("-" for every empty field but the
  // name) and returns what was written.
  Profile SaveProfile();

  void TestActivate();
  void TestClose();
  void bOkClick();
  void bServerClick();
  void bHelpClick();
  void bExitClick();
  void BitBtn1Click();
  void AgentMessUp();
  void bHangmanMUp();
  void AgentMessTimerTimer();
  void HangmanMessTimerTimer();

  // The About box while it is open (null otherwise), and the help window
  // once it was opened.
  QMessageBox* AboutBox() const { return aboutBox_; }
  HelpWindow* Help() const { return help_.get(); }

  QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7;
  QLineEdit *tRealName, *tCity, *tCountry, *tAge, *tEmail, *tDescription;
  QComboBox* tSex;
  BitmapButton *bServer, *bHelp, *bExit, *bOk;
  SpeedButton* BitBtn1;
  PlatformButton *bAgentMessage, *bHangman;
  ClientTimer *AgentMessTimer, *HangmanMessTimer;

 protected:
  void FormActivate() override { TestActivate(); }
  void FormClose() override { TestClose(); }

 private:
  void TestCreate();
  void ShowMusicState();

  FormContext context_;
  QMessageBox* aboutBox_ = nullptr;
  std::unique_ptr<HelpWindow> help_;
};

}  // namespace lobby
