#include "test_form.hpp"

#include <QMessageBox>

#include "client_core.hpp"
#include "client_values.hpp"
#include "help_window.hpp"
#include "profile_files.hpp"
#include "sound.hpp"

namespace lobby {

namespace {

constexpr const char* kSection = "Vossa";

// A label a line high and as wide as the room before the field beside or
// under it: sizing it to its text would load the fonts before the splash is
// on screen.
QLabel* WhiteLabel(const char* text, int left, int top, int width, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  SetTextColour(label, Qt::white);
  label->setGeometry(left, top, width, 13);
  return label;
}

QLineEdit* Edit(const char* name, int left, int top, int width, int height, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setGeometry(left, top, width, height);
  return edit;
}

std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

std::string OrDash(std::string value) { return value.empty() ? "-" : value; }

}  // namespace

TTest::TTest(FormContext context) : LobbyForm(kMainCaption, 640, 480), context_(context) {
  Label1 = WhiteLabel("My Real Name (must be filled)", 160, 72, 140, this);
  Label2 = WhiteLabel("City", 344, 72, 145, this);
  Label3 = WhiteLabel("Country", 160, 112, 40, this);
  Label4 = WhiteLabel("Age", 320, 112, 24, this);
  Label5 = WhiteLabel("Sex", 392, 112, 24, this);
  Label6 = WhiteLabel("Email", 160, 136, 40, this);
  Label7 = WhiteLabel("My Description", 160, 160, 329, this);

  tRealName = Edit("tRealName", 160, 88, 177, 21, this);
  tCity = Edit("tCity", 344, 88, 145, 21, this);
  tCountry = Edit("tCountry", 200, 112, 105, 21, this);
  tAge = Edit("tAge", 344, 112, 33, 21, this);
  tSex = new QComboBox(this);
  tSex->setObjectName("tSex");
  tSex->setGeometry(416, 112, 73, 21);
  tSex->setEditable(false);
  tEmail = Edit("tEmail", 200, 136, 289, 21, this);
  // One line of text in a taller box: the profile file keeps one line a key.
  tDescription = Edit("tDescription", 160, 176, 329, 65, this);
  tDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  bServer = new BitmapButton(Glyph::Server, QStringLiteral("Choose a server"), this);
  bServer->setObjectName("bServer");
  bServer->setGeometry(536, 200, 81, 41);
  bHelp = new BitmapButton(Glyph::Help, QStringLiteral("About and help"), this);
  bHelp->setObjectName("bHelp");
  bHelp->setGeometry(21, 144, 69, 40);
  bExit = new BitmapButton(Glyph::Exit, QStringLiteral("Exit"), this);
  bExit->setObjectName("bExit");
  bExit->setGeometry(544, 5, 75, 38);
  bOk = new BitmapButton(Glyph::Ok, QStringLiteral("Register and connect"), this);
  bOk->setObjectName("bOk");
  bOk->setGeometry(288, 392, 86, 41);
  SetDefaultButton(bOk);

  BitBtn1 = new SpeedButton(Glyph::MusicOn, QStringLiteral("Music on or off"), this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(16, 192, 81, 49);
  BitBtn1->setFocusPolicy(Qt::NoFocus);  // a speed button never takes the focus

  bAgentMessage = new PlatformButton(QStringLiteral("AgentMessage"), this);
  bAgentMessage->setObjectName("bAgentMessage");
  bAgentMessage->setGeometry(8, 8, 97, 25);
  bAgentMessage->hide();
  bHangman = new PlatformButton(QStringLiteral("Hangman"), this);
  bHangman->setObjectName("bHangman");
  bHangman->setGeometry(8, 40, 97, 25);
  bHangman->hide();

  AgentMessTimer = new ClientTimer(10, this);
  AgentMessTimer->setOnTimer([this] { AgentMessTimerTimer(); });
  HangmanMessTimer = new ClientTimer(10, this);
  HangmanMessTimer->setOnTimer([this] { HangmanMessTimerTimer(); });

  QWidget* order[] = {tRealName, tCity, tCountry, tAge, tSex, tEmail, tDescription,
                      bServer, bHelp, bExit, bOk, bAgentMessage, bHangman};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(bOk, &QPushButton::clicked, this, &TTest::bOkClick);
  connect(bServer, &QPushButton::clicked, this, &TTest::bServerClick);
  connect(bHelp, &QPushButton::clicked, this, &TTest::bHelpClick);
  connect(bExit, &QPushButton::clicked, this, &TTest::bExitClick);
  connect(BitBtn1, &QPushButton::clicked, this, &TTest::BitBtn1Click);
  bAgentMessage->setMouseUpHandler([this] { AgentMessUp(); });
  bHangman->setMouseUpHandler([this] { bHangmanMUp(); });

  TestCreate();
}

TTest::~TTest() = default;

void TTest::TestCreate() {
  LoadBackground(Values().InstallDir + "Bitmaps\\Cv_sec.bmp");
  tSex->addItem(QStringLiteral("Male"));
  tSex->addItem(QStringLiteral("Female"));
  tSex->setCurrentIndex(0);
  Values().SessionFlag = true;
}

std::string TTest::RealNameText() const { return Text(tRealName); }
std::string TTest::DescriptionText() const { return Text(tDescription); }

std::string TTest::ProfilePath() const { return Values().InstallDir + "VOSSA.INI"; }

void TTest::TestActivate() {
  const std::string file = ProfilePath();
  const auto read = [&file](const char* key) { return QString::fromStdString(ReadIniString(kSection, key, file)); };
  tRealName->setText(read("RealName"));
  tDescription->setText(read("Description"));
  tCity->setText(read("CITY"));
  tCountry->setText(read("COUNTRY"));
  tAge->setText(read("AGE"));
  tSex->setCurrentIndex(read("SEX") == QLatin1String("1") ? 1 : 0);
  tEmail->setText(read("EMAIL"));
  ShowMusicState();
}

Profile TTest::SaveProfile() {
  Profile p;
  p.realName = Text(tRealName);
  p.description = OrDash(Text(tDescription));
  p.city = OrDash(Text(tCity));
  p.country = OrDash(Text(tCountry));
  p.age = OrDash(Text(tAge));
  p.sex = std::to_string(tSex->currentIndex());
  p.email = OrDash(Text(tEmail));
  const std::string file = ProfilePath();
  WriteIniString(kSection, "RealName", p.realName, file);
  WriteIniString(kSection, "Description", p.description, file);
  WriteIniString(kSection, "CITY", p.city, file);
  WriteIniString(kSection, "COUNTRY", p.country, file);
  WriteIniString(kSection, "AGE", p.age, file);
  WriteIniString(kSection, "SEX", p.sex, file);
  WriteIniString(kSection, "EMAIL", p.email, file);
  return p;
}

void TTest::bOkClick() {
  ClientCore& core = context_.core;
  core.ui().ShowForm(Form::Open);
  hide();
  const std::string name = RealNameText();
  if (name.empty() || name == "My Name") {
    core.SetState(State::stRegister);
    core.ShowMessageBox("Please fill up the field \"Real Name\" before Registering.");
    return;
  }
  const Profile profile = SaveProfile();
  Values().ServerAcknowledged = false;
  if (!core.OpenAgentSession(AgentMessageWindow(), profile)) {
    core.HandleEvent(Event::evLeave);
    core.ShowMessageBox("Problem connecting to the Server.  Please try again later");
  }
}

void TTest::bServerClick() {
  SaveProfile();
  context_.core.ui().ShowForm(Form::Server);
}

void TTest::bHelpClick() {
  QMessageBox about(QMessageBox::NoIcon, QStringLiteral("About QOR's Corvane Game v0.91b2"),
                    QString::fromLatin1(kAboutText) + "\n" + QString::fromLatin1(kAboutMoreText), QMessageBox::Ok,
                    this);
  about.setObjectName("AboutBox");
  aboutBox_ = &about;
  about.exec();
  aboutBox_ = nullptr;
  if (!help_) help_ = std::make_unique<HelpWindow>();
  help_->ShowContents(Values().HelpFile);
}

void TTest::bExitClick() { context_.core.ExitSequence(); }

void TTest::TestClose() { context_.core.ExitSequence(); }

void TTest::BitBtn1Click() {
  ClientValues& v = Values();
  if (v.MusicPlaying) {
    StopAllSound();
    v.MusicPlaying = false;
  } else {
    PlaySoundFile(v.InstallDir + "Zudeduzu.wav", kSoundAsyncLoop);
    v.MusicPlaying = true;
  }
  ShowMusicState();
}

void TTest::ShowMusicState() { BitBtn1->setGlyph(Values().MusicPlaying ? Glyph::MusicOff : Glyph::MusicOn); }

void TTest::AgentMessUp() { AgentMessTimer->setEnabled(true); }

void TTest::bHangmanMUp() { HangmanMessTimer->setEnabled(true); }

void TTest::AgentMessTimerTimer() {
  // Once per notification: the tick drains the whole queue.
  AgentMessTimer->setEnabled(false);
  context_.core.AgentMessTimerTimer();
}

void TTest::HangmanMessTimerTimer() {
  HangmanMessTimer->setEnabled(false);
  context_.core.HangmanMessTimerTimer();
}

}  // namespace lobby
