// connect_form.hpp - the player query and browse dialog (internal).
//
// Shown while the client is registered with a lobby server. Every time it
// becomes the active window it starts over: the list is emptied and, once
// the server has acknowledged the registration, a query goes out (all
// players, or those matching the "Look For" fields). The answers arrive as
// agent messages that the dispatch hands to ListQueryResult. The player
// offers a game to the selected player from here, and leaves the program.
//
// While "Automatic Refresh" is ticked, the last query is sent again every
// ten seconds once it has been answered, and its answer updates the list in
// place: players still there keep their rows and the selection, newcomers
// are added at the end, those gone are removed. A selected player who has
// left is said to have left, and nobody else is offered a game until the
// person picks someone.
#pragma once

#include <string>
#include <vector>

#include "core/forms.hpp"
#include "dialog_parts.hpp"
#include "player_listing.hpp"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace lobby {

class BitmapButton;
class ClientTimer;
class SpeedButton;

// The query text of the "Look For" fields, in the order they are sent.
struct QueryFields {
  std::string name, city, country, age, email, description;
  int sex = 0;  // position in the drop-down: 0 all, 1 male, 2 female
};
// "REAL=..;CITY=..;" and so on for the fields that are not empty, then the
// sex; the texts go in unchanged. One blank when nothing is asked for.
std::string BuildQueryText(const QueryFields& fields);

// How long RefreshTimer waits after a query has been answered before it
// sends it again.
inline constexpr int kAutoRefreshIntervalMs = 10000;

class TConnect : public LobbyForm {
  Q_OBJECT
 public:
  explicit TConnect(FormContext context);

  // What the state machine drives.
  void SetQueryTimer(bool on);
  void SetRefreshTimer(bool on);
  // The answers of the running query are all in.
  void QueryEnded();
  void EnableConnectButton();
  // Lists one player from the text of a query answer; false (and nothing
  // listed) when any of its eight fields is missing or empty.
  bool ListQueryResult(const std::string& text);
  std::string RemoteNameCaption() const;
  // The selected player's whole answer text, byte for byte: the partner an
  // offer is addressed to.
  const std::string& RemoteIdText() const { return remoteId_; }
  // The players listed, entry i for line i of ListUsers.
  const std::vector<ListingRecord>& Entries() const { return entries_; }

  // Handlers.
  void FormActivate() override;  // the reset of every activation
  void QueryTimerTimer();
  void RefreshTimerTimer();
  void cAutoRefreshClick();
  void bRefreshClick();
  void ListUsersClick();
  void bQueryOnClick();
  void bConnectClick();
  void BitBtn1Click();
  void bExitClick();
  void FormClose() override;

  // Partner details.
  QLabel* lRemoteName;
  QLabel* lRemoteCity;
  QLabel* lRemoteCountry;
  QLabel* lRemoteAge;
  QLabel* lRemoteeMail;
  QLabel* lRemoteDesc;
  QLabel* lRemoteId;   // hidden
  QLabel* lRemoteSex;  // hidden
  QLabel* lMale;
  QLabel* lFemale;
  QLabel* Male;
  QLabel* Female;
  // The player's own.
  QLabel* lMyName;
  QLabel* lMyDesc;

  QListWidget* ListUsers;
  QLabel* QueryPic;
  QCheckBox* cAutoRefresh;
  BitmapButton* bRefresh;
  BitmapButton* bConnect;
  BitmapButton* BitBtn1;
  SpeedButton* bQueryOn;
  BitmapButton* bExit;

  // "Look For".
  QGroupBox* FrQuery;
  QLineEdit* QName;
  QLineEdit* QCity;
  QLineEdit* QCountry;
  QLineEdit* QAge;
  QLineEdit* QEmail;
  QLineEdit* QDesc;
  QComboBox* tSex;
  QComboBox* QMaxAns;

  ClientTimer* QueryTimer;
  ClientTimer* RefreshTimer;

 private:
  void BuildLookFor();
  void ClearEntries();
  void ResetDetails();
  void ShowEntry(int row);
  void ShowSex(bool female);
  void SetRemoteId(const std::string& text);
  int SelectedRow() const;
  // The query the "Look For" fields ask for.
  std::string QueryText() const;
  // Sends a query; the failure text names who asked. An automatic one
  // gathers its answers for the in-place update.
  void RunQuery(const std::string& query, int maximum, const char* failureText, bool automatic);
  bool AutomaticRefreshDue() const;
  // Puts the answer of an automatic query into the list in place.
  void UpdateInPlace();
  void ShowPartnerLeft();
  void UpdateMusicGlyph();

  FormContext context_;
  std::string remoteId_;
  std::vector<ListingRecord> entries_;

  // A query call was accepted and its end has not come yet.
  bool queryRunning_ = false;
  // A query has been answered since the dialog was last activated.
  bool answered_ = false;
  // The running query is an automatic one: its answers are gathered here
  // until its end.
  bool automatic_ = false;
  std::vector<ListingRecord> gathered_;
  // What the last accepted query asked for; the automatic one asks again.
  std::string lastQuery_ = " ";
  int lastMaximum_ = 100;
  // An automatic query was refused (and said so): no more until the next
  // activation.
  bool automaticRefused_ = false;
  // The selected player left; Play! waits for the person to pick someone.
  bool partnerLeft_ = false;
};

}  // namespace lobby
