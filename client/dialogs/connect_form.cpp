#include "connect_form.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>
#include <algorithm>
#include <set>
#include <utility>

#include "core/bitmap_button.hpp"
#include "core/client_core.hpp"
#include "core/client_timer.hpp"
#include "core/client_values.hpp"
#include "core/glossary.hpp"
#include "core/glyphs.hpp"
#include "core/sound.hpp"
#include "core/test_form.hpp"
#include "zep/zep.h"

namespace lobby {

namespace {

constexpr const char* kNoValue = "???";
constexpr int kQueryIntervalMs = 3000;
// The agent ignores these two arguments of the query call.
constexpr std::intptr_t kQueryReserved1 = 32;
constexpr const char* kTimerFailure = "Couldn't Query.  Server is probably down.  Try again later.";
constexpr const char* kRefreshFailure = "Couldn't Query.  Server is probably down.  Try again later. ";

void Append(std::string& query, const char* key, const std::string& value) {
  if (value.empty()) return;
  query += key;
  query += value;
  query += ';';
}

}  // namespace

std::string BuildQueryText(const QueryFields& fields) {
  std::string query;
  Append(query, "REAL=", fields.name);
  Append(query, "CITY=", fields.city);
  Append(query, "COUNTRY=", fields.country);
  Append(query, "AGE=", fields.age);
  Append(query, "EMAIL=", fields.email);
  Append(query, "DESC=", fields.description);
  if (fields.sex > 0) Append(query, "SEX=", std::to_string(fields.sex - 1));
  // The agent takes no empty filter; one blank asks for everybody.
  if (query.empty()) query.push_back(' ');
  return query;
}

TConnect::TConnect(FormContext context) : LobbyForm("Entering the Vossa...", 640, 480), context_(context) {
  SetFontWhenShown(DialogFont());

  AddHeading(this, "Your Partner is :", 32, 56);
  AddLabel(this, "Real Name", 32, 88);
  AddLabel(this, "City", 176, 88);
  AddLabel(this, "Country", 32, 120);
  AddLabel(this, "Age", 176, 120);
  AddLabel(this, "eMail", 32, 136);
  AddLabel(this, "Description", 32, 152);
  lRemoteName = AddValueLabel(this, 32, 104, 129, 13);
  lRemoteCity = AddValueLabel(this, 176, 104, 89, 13);
  lRemoteCountry = AddValueLabel(this, 75, 120, 86, 13);
  lRemoteAge = AddValueLabel(this, 200, 120, 65, 13);
  lRemoteeMail = AddValueLabel(this, 72, 136, 193, 13);
  lRemoteDesc = AddValueLabel(this, 35, 168, 230, 57);
  lRemoteId = AddLabel(this, "", 56, 384);
  lRemoteId->hide();
  lRemoteSex = AddLabel(this, "", 56, 400);
  lRemoteSex->hide();

  lFemale = AddLabel(this, "Female", 152, 56);
  lMale = AddLabel(this, "Male", 192, 56);
  Female = new QLabel(this);
  Female->setGeometry(240, 56, 32, 32);
  WhenShown(Female, [label = Female] { label->setPixmap(DrawFemalePicture(QSize(32, 32))); });
  Male = new QLabel(this);
  Male->setGeometry(240, 56, 32, 32);
  WhenShown(Male, [label = Male] { label->setPixmap(DrawMalePicture(QSize(32, 32))); });
  // Nobody is shown yet, so neither sex is.
  for (QLabel* part : {lFemale, lMale, Female, Male}) part->hide();

  AddHeading(this, "Registered Users", 280, 56);
  ListUsers = new QListWidget(this);
  ListUsers->setGeometry(280, 72, 137, 169);
  StyleList(ListUsers);
  QueryPic = new QLabel(this);
  QueryPic->setGeometry(280, 72, 137, 169);
  QueryPic->setScaledContents(true);
  // Pictures are drawn when first shown: their words would open a bold
  // face before the splash is on screen.
  WhenShown(QueryPic, [label = QueryPic] { label->setPixmap(DrawQueryPicture(QSize(137, 169))); });
  QueryPic->raise();

  cAutoRefresh = new QCheckBox("Automatic Refresh", this);
  cAutoRefresh->setGeometry(280, 240, 137, 17);
  cAutoRefresh->setChecked(true);
  {
    QPalette palette = cAutoRefresh->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    cAutoRefresh->setPalette(palette);
  }

  bRefresh = new BitmapButton(Glyph::Refresh, "Refresh", this);
  bRefresh->setGeometry(304, 264, 81, 41);
  bConnect = new BitmapButton(Glyph::Offer, "Offer a game", this);
  bConnect->setGeometry(304, 312, 81, 41);
  BitBtn1 = new BitmapButton(Glyph::MusicOn, "Music", this);
  BitBtn1->setGeometry(307, 357, 74, 43);
  bQueryOn = new SpeedButton(Glyph::Search, "Look For", this);
  bQueryOn->setGeometry(488, 288, 65, 65);
  bExit = new BitmapButton(Glyph::Exit, "Exit", this);
  bExit->setGeometry(538, 6, 74, 36);
  bRefresh->setEnabled(false);
  bConnect->setEnabled(false);

  AddLabel(this, "My Real Name", 32, 256);
  AddLabel(this, "My Description", 32, 288);
  lMyName = AddValueLabel(this, 32, 272, 233, 13);
  lMyDesc = AddValueLabel(this, 32, 304, 233, 49);

  BuildLookFor();

  QueryTimer = new ClientTimer(kQueryIntervalMs, this);
  QueryTimer->setOnTimer([this] { QueryTimerTimer(); });
  RefreshTimer = new ClientTimer(kAutoRefreshIntervalMs, this);
  RefreshTimer->setOnTimer([this] { RefreshTimerTimer(); });

  setTabOrder(ListUsers, cAutoRefresh);
  setTabOrder(cAutoRefresh, bRefresh);
  setTabOrder(bRefresh, bConnect);
  setTabOrder(bConnect, BitBtn1);
  setTabOrder(BitBtn1, bQueryOn);
  setTabOrder(bQueryOn, QName);
  setTabOrder(QName, QCity);
  setTabOrder(QCity, QCountry);
  setTabOrder(QCountry, QAge);
  setTabOrder(QAge, QEmail);
  setTabOrder(QEmail, QDesc);
  setTabOrder(QDesc, QMaxAns);
  setTabOrder(QMaxAns, tSex);
  setTabOrder(tSex, bExit);

  LoadBackground(Values().InstallDir + "Bitmaps\\Cv_sec.bmp");
  ResetDetails();
  UpdateMusicGlyph();

  connect(ListUsers, &QListWidget::itemSelectionChanged, this, [this] { ListUsersClick(); });
  connect(cAutoRefresh, &QCheckBox::toggled, this, [this] { cAutoRefreshClick(); });
  connect(bRefresh, &QPushButton::clicked, this, [this] { bRefreshClick(); });
  connect(bConnect, &QPushButton::clicked, this, [this] { bConnectClick(); });
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(bQueryOn, &QPushButton::clicked, this, [this] { bQueryOnClick(); });
  connect(bExit, &QPushButton::clicked, this, [this] { bExitClick(); });
}

void TConnect::BuildLookFor() {
  FrQuery = new QGroupBox("Look For", this);
  FrQuery->setGeometry(424, 56, 201, 209);
  FrQuery->setAutoFillBackground(true);
  QPalette palette = FrQuery->palette();
  palette.setColor(QPalette::Window, Qt::black);
  palette.setColor(QPalette::WindowText, Qt::white);
  FrQuery->setPalette(palette);

  AddLabel(FrQuery, "Name", 8, 28);
  QName = AddEdit(FrQuery, 48, 24, 145, 21);
  AddLabel(FrQuery, "City", 8, 52);
  QCity = AddEdit(FrQuery, 48, 48, 145, 21);
  AddLabel(FrQuery, "Country", 8, 76);
  QCountry = AddEdit(FrQuery, 48, 72, 73, 21);
  AddLabel(FrQuery, "Age", 128, 76);
  QAge = AddEdit(FrQuery, 160, 72, 33, 21);
  AddLabel(FrQuery, "eMail", 8, 100);
  QEmail = AddEdit(FrQuery, 48, 96, 145, 21);
  AddLabel(FrQuery, "Description", 8, 122);
  QDesc = AddEdit(FrQuery, 8, 136, 185, 21);
  AddLabel(FrQuery, "# Ans.", 8, 180);
  QMaxAns = AddDropDown(FrQuery, 48, 176, 57, {});
  AddLabel(FrQuery, "Sex", 112, 180);
  tSex = AddDropDown(FrQuery, 136, 176, 57, {"All", "Male", "Female"});
  tSex->setCurrentIndex(0);
  FrQuery->hide();
}

// ---------------------------------------------------------------- entries

int TConnect::SelectedRow() const {
  const int row = ListUsers->currentRow();
  if (row < 0 || ListUsers->item(row) == nullptr || !ListUsers->item(row)->isSelected()) return -1;
  return row;
}

void TConnect::ClearEntries() {
  const QSignalBlocker blocker(ListUsers);
  ListUsers->clear();
  entries_.clear();
}

void TConnect::SetRemoteId(const std::string& text) {
  remoteId_ = text;
  lRemoteId->setText(ToQt(text));
}

void TConnect::ResetDetails() {
  for (QLabel* label : {lRemoteName, lRemoteCity, lRemoteCountry, lRemoteAge, lRemoteDesc, lRemoteeMail})
    label->setText(kNoValue);
  SetRemoteId(kNoValue);
}

void TConnect::ShowSex(bool female) {
  lFemale->setVisible(female);
  Female->setVisible(female);
  lMale->setVisible(!female);
  Male->setVisible(!female);
}

void TConnect::ShowEntry(int row) {
  const ListingRecord& entry = entries_[static_cast<std::size_t>(row)];
  lRemoteName->setText(ListUsers->item(row)->text());
  lRemoteDesc->setText(ToQt(entry.description));
  SetRemoteId(entry.text);
  lRemoteCity->setText(ToQt(entry.city));
  lRemoteCountry->setText(ToQt(entry.country));
  lRemoteAge->setText(ToQt(entry.age));
  ShowSex(entry.sex == "1");
  lRemoteeMail->setText(ToQt(entry.email));
}

bool TConnect::ListQueryResult(const std::string& text) {
  std::optional<ListingRecord> entry = ParseListing(text);
  if (!entry) return false;
  // An automatic query's answer goes into the list once it is complete.
  if (automatic_) {
    gathered_.push_back(std::move(*entry));
    return false;
  }

  QueryPic->hide();
  ListUsers->show();
  {
    const QSignalBlocker blocker(ListUsers);
    ListUsers->addItem(ToQt(entry->name));
  }
  entries_.push_back(std::move(*entry));

  if (SelectedRow() < 0) {
    {
      const QSignalBlocker blocker(ListUsers);
      ListUsers->setCurrentRow(0);
    }
    ShowEntry(0);
    lRemoteSex->setText(entries_[0].sex == "1" ? "1" : "2");
  }
  return true;
}

void TConnect::ListUsersClick() {
  const int row = SelectedRow();
  if (row < 0) return;
  ShowEntry(row);
  // The person has picked someone again after their partner left.
  if (std::exchange(partnerLeft_, false)) bConnect->setEnabled(true);
}

void TConnect::UpdateInPlace() {
  const int selected = SelectedRow();
  const std::string selectedId = selected < 0 ? std::string() : entries_[static_cast<std::size_t>(selected)].playerId;
  const bool wasEmpty = entries_.empty();
  std::vector<ListingRecord> merged = MergeListing(entries_, gathered_);
  std::set<std::string> ids;
  for (const ListingRecord& entry : merged) ids.insert(entry.playerId);
  {
    const QSignalBlocker blocker(ListUsers);
    // The rows of the players gone, from the bottom up so that the rows
    // above keep their numbers. What stays are the players kept, in their
    // order, and the newcomers follow them.
    for (int row = ListUsers->count() - 1; row >= 0; --row) {
      if (ids.count(entries_[static_cast<std::size_t>(row)].playerId) == 0) delete ListUsers->takeItem(row);
    }
    for (std::size_t i = 0; i < merged.size(); ++i) {
      const QString name = ToQt(merged[i].name);
      const int row = static_cast<int>(i);
      if (row >= ListUsers->count())
        ListUsers->addItem(name);
      else if (ListUsers->item(row)->text() != name)
        ListUsers->item(row)->setText(name);
    }
  }
  entries_ = std::move(merged);
  ListUsers->setVisible(!entries_.empty());
  QueryPic->setVisible(entries_.empty());
  if (entries_.empty()) QueryPic->raise();

  const QSignalBlocker blocker(ListUsers);
  if (!selectedId.empty()) {
    const auto kept = std::find_if(entries_.begin(), entries_.end(),
                                   [&selectedId](const ListingRecord& entry) { return entry.playerId == selectedId; });
    if (kept != entries_.end()) {
      const int row = static_cast<int>(kept - entries_.begin());
      ListUsers->setCurrentRow(row);
      ShowEntry(row);
    } else {
      // Nobody else is picked behind the person's back.
      ListUsers->setCurrentRow(-1);
      ListUsers->clearSelection();
      ShowPartnerLeft();
    }
  } else if (wasEmpty && !partnerLeft_ && !entries_.empty()) {
    // The first players found, as with any query: the first is shown.
    ListUsers->setCurrentRow(0);
    ShowEntry(0);
    lRemoteSex->setText(entries_[0].sex == "1" ? "1" : "2");
    bConnect->setEnabled(true);
  }
}

void TConnect::ShowPartnerLeft() {
  partnerLeft_ = true;
  bConnect->setEnabled(false);
  SetRemoteId(kNoValue);
  lRemoteDesc->setText(lRemoteName->text() + " has left the lobby.");
}

// ---------------------------------------------------------------- queries

void TConnect::FormActivate() {
  bRefresh->setEnabled(false);
  bConnect->setEnabled(false);
  if (TTest* main = context_.forms.Test) {
    lMyName->setText(ToQt(main->RealNameText()));
    lMyDesc->setText(ToQt(main->DescriptionText()));
  }
  ClearEntries();
  ResetDetails();
  QMaxAns->clear();
  QMaxAns->addItems({"100", "50", "30", "10"});
  QMaxAns->setCurrentIndex(0);
  QueryTimer->setEnabled(true);
  QueryPic->show();
  QueryPic->raise();
  ListUsers->hide();
  // The message box's OK may have stopped the music meanwhile.
  UpdateMusicGlyph();
  // A query still running from before now fills the list afresh; the first
  // query of this activation is what the automatic one waits for.
  queryRunning_ = answered_ = automatic_ = automaticRefused_ = partnerLeft_ = false;
  gathered_.clear();
}

void TConnect::QueryTimerTimer() {
  // Until the server has taken the registration the timer keeps trying.
  if (!Values().ServerAcknowledged) return;
  QueryTimer->setEnabled(false);
  // The drop-down offers numbers only.
  RunQuery(QueryText(), QMaxAns->currentText().toInt(), kTimerFailure, false);
}

void TConnect::RefreshTimerTimer() {
  if (!AutomaticRefreshDue()) return;
  // The same query again, even if the "Look For" fields have been edited
  // since: the list is kept current, not changed into another one.
  RunQuery(lastQuery_, lastMaximum_, kTimerFailure, true);
}

bool TConnect::AutomaticRefreshDue() const {
  if (!cAutoRefresh->isChecked() || automaticRefused_) return false;
  // Not before the first query of this activation has been answered, and
  // never while one runs.
  if (!isVisible() || QueryTimer->isEnabled() || !answered_ || queryRunning_) return false;
  // Nothing over the dialog: a message the person has not read, or an offer.
  const ClientUi& ui = context_.core.ui();
  if (ui.IsFormVisible(Form::Message) || ui.IsFormVisible(Form::Suggest) || ui.IsFormVisible(Form::Accept))
    return false;
  return Values().ServerAcknowledged;
}

void TConnect::cAutoRefreshClick() {
  // Ticked again: ten seconds from now, if the dialog is idle.
  RefreshTimer->setEnabled(false);
  if (cAutoRefresh->isChecked() && answered_ && !queryRunning_) RefreshTimer->setEnabled(true);
}

void TConnect::bRefreshClick() {
  ClearEntries();
  ResetDetails();
  partnerLeft_ = false;
  bRefresh->setEnabled(false);
  bConnect->setEnabled(false);
  // Nothing is sent before the acknowledgement; the button comes back with
  // the end of some later query.
  if (!Values().ServerAcknowledged) return;
  QueryPic->show();
  QueryPic->raise();
  ListUsers->hide();
  RunQuery(QueryText(), QMaxAns->currentText().toInt(), kRefreshFailure, false);
}

std::string TConnect::QueryText() const {
  // The group's own visibility: the fields count while it is shown, even
  // if the dialog itself is not on screen at this moment.
  if (!FrQuery->isHidden()) {
    QueryFields fields;
    fields.name = FromQt(QName->text());
    fields.city = FromQt(QCity->text());
    fields.country = FromQt(QCountry->text());
    fields.age = FromQt(QAge->text());
    fields.email = FromQt(QEmail->text());
    fields.description = FromQt(QDesc->text());
    fields.sex = tSex->currentIndex() < 0 ? 0 : tSex->currentIndex();
    return BuildQueryText(fields);
  }
  return " ";
}

void TConnect::RunQuery(const std::string& query, int maximum, const char* failureText, bool automatic) {
  ClientValues& v = Values();
  const int result = ZEPQueryUsers(v.SessionHandle, query.c_str(), maximum,
                                   reinterpret_cast<void*>(kQueryReserved1), nullptr);
  if (result == ZEP_RET_OK || result == ZEP_RET_ALREADYINQUERY) {
    // A query already running delivers its answers just the same.
    RefreshTimer->setEnabled(false);
    queryRunning_ = true;
    automatic_ = automatic;
    gathered_.clear();
    lastQuery_ = query;
    lastMaximum_ = maximum;
    // As while any query runs; it comes back with the end.
    if (automatic) bRefresh->setEnabled(false);
    return;
  }
  QueryTimer->setEnabled(false);
  // Said once: the automatic refresh waits for the next activation, which
  // closing the message comes with.
  if (automatic) {
    automaticRefused_ = true;
    RefreshTimer->setEnabled(false);
  }
  const GlossaryEntry code = LookUpCode(result);
  context_.core.ShowMessageBox(failureText + code.displayName + " " + code.explanation);
}

// ---------------------------------------------------------------- buttons

void TConnect::bQueryOnClick() {
  const bool show = FrQuery->isHidden();
  bQueryOn->setDown(show);
  FrQuery->setVisible(show);
}

void TConnect::bConnectClick() {
  // Never to somebody the person did not pick (Play! is off meanwhile).
  if (partnerLeft_) return;
  hide();
  context_.core.HandleEvent(Event::evGo);
  QueryTimer->setEnabled(false);
  RefreshTimer->setEnabled(false);
}

void TConnect::BitBtn1Click() {
  ClientValues& v = Values();
  if (v.MusicPlaying) {
    StopAllSound();
  } else {
    PlaySoundFile(v.InstallDir + "Zudeduzu.wav", kSoundAsyncLoop);
    v.MusicPlaying = true;
  }
  UpdateMusicGlyph();
}

void TConnect::UpdateMusicGlyph() { BitBtn1->setGlyph(Values().MusicPlaying ? Glyph::MusicOff : Glyph::MusicOn); }

void TConnect::bExitClick() { context_.core.ExitFromLobby(); }

void TConnect::FormClose() { bExitClick(); }

// ---------------------------------------------------------------- for the state machine

void TConnect::SetQueryTimer(bool on) { QueryTimer->setEnabled(on); }
void TConnect::SetRefreshTimer(bool on) { RefreshTimer->setEnabled(on); }
void TConnect::QueryEnded() {
  bRefresh->setEnabled(true);
  queryRunning_ = false;
  answered_ = true;
  if (std::exchange(automatic_, false)) {
    // A dialog hidden meanwhile starts over when it is shown again.
    if (isVisible()) UpdateInPlace();
    gathered_.clear();
  }
  RefreshTimer->setEnabled(true);
}
void TConnect::EnableConnectButton() { bConnect->setEnabled(true); }
std::string TConnect::RemoteNameCaption() const { return FromQt(lRemoteName->text()); }

}  // namespace lobby
