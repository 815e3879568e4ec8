// server_form.hpp - the server selection dialog (internal).
//
// The player picks the lobby server to join from the list in SERVERS.INI or
// types an address; OK stores it as CurrentServer for the next registration.
// The list is built once, when the dialog is created, and the address field
// keeps whatever it held across hiding and showing.
#pragma once

#include <optional>
#include <string>

#include "core/forms.hpp"
#include "dialog_parts.hpp"

class QListWidget;
class QLineEdit;

namespace lobby {

class BitmapButton;

// One row of the server list: the address, blanks to column 18, the name,
// blanks to column 38, the location.
std::string ServerRow(const std::string& address, const std::string& name, const std::string& location);
// The address a row names: its text before the first blank; none when the
// row holds no blank.
std::optional<std::string> AddressOfRow(const std::string& row);
// ServerCount as an integer: optional sign and decimal digits within 32 bits
// (the reader has already stripped surrounding blanks). None when the text
// is not such a number.
std::optional<int> ParseServerCount(const std::string& text);

class TServerF : public LobbyForm {
  Q_OBJECT
 public:
  explicit TServerF(FormContext context);

  void ServerListClick();
  void ServerListDbClick();
  void bOkClick();
  void bCancelClick();
  void FormClose() override;

  QListWidget* ServerList;
  QLineEdit* tServer;
  BitmapButton* bOk;
  BitmapButton* bCancel;

 private:
  void FormCreate();
  void FillServerList(const std::string& file, int count);
  std::string ServerFile() const;

  FormContext context_;
};

}  // namespace lobby
