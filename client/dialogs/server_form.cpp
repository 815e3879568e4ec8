#include "server_form.hpp"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <algorithm>
#include <climits>
#include <set>

#include "core/bitmap_button.hpp"
#include "core/client_core.hpp"
#include "core/client_values.hpp"
#include "core/forms_ui.hpp"
#include "core/profile_files.hpp"

namespace lobby {

namespace {

constexpr const char* kSection = "QORServers";
constexpr std::size_t kNameColumn = 17;      // the name starts in column 18
constexpr std::size_t kLocationColumn = 37;  // the location in column 38
constexpr int kRowHeight = 15;

void PadTo(std::string& row, std::size_t length) {
  if (row.size() < length) row.append(length - row.size(), ' ');
}

bool IsIniBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimIni(std::string_view s) {
  while (!s.empty() && IsIniBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsIniBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The entry numbers n (1..count) for which the file has a line whose key
// could be "Server<n>", in any section. ServerCount comes from a file the
// agent writes from what a lobby server sends, so it may be huge: reading
// every key up to it would hang the program at start-up. Keys that do not
// appear read as empty and give no row, so reading only these numbers
// builds the same list.
std::set<int> EntryNumbersInFile(const std::string& windowsPath, int count) {
  std::set<int> numbers;
  const std::optional<std::string> text = ReadSmallFile(windowsPath);
  if (!text) return numbers;
  std::string_view rest = *text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view t = TrimIni(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') continue;
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = TrimIni(t.substr(0, eq));
    constexpr std::string_view kPrefix = "server";
    if (key.size() <= kPrefix.size() || key.size() > kPrefix.size() + 10) continue;
    bool prefix = true;
    for (std::size_t i = 0; i < kPrefix.size(); ++i)
      prefix = prefix && static_cast<char>(std::tolower(static_cast<unsigned char>(key[i]))) == kPrefix[i];
    const std::string_view digits = key.substr(kPrefix.size());
    // The reader asks for "Server12": a key spelt "Server012" is another key.
    if (!prefix || digits.front() == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const long long n = std::stoll(std::string(digits));
    if (n <= count) numbers.insert(static_cast<int>(n));
  }
  return numbers;
}

}  // namespace

std::string ServerRow(const std::string& address, const std::string& name, const std::string& location) {
  std::string row = address;
  PadTo(row, kNameColumn);
  row += name;
  PadTo(row, kLocationColumn);
  row += location;
  return row;
}

std::optional<std::string> AddressOfRow(const std::string& row) {
  const std::size_t blank = row.find(' ');
  if (blank == std::string::npos) return std::nullopt;
  return row.substr(0, blank);
}

std::optional<int> ParseServerCount(const std::string& text) {
  // Decimal only, as the file's writers write it; a sign is allowed. "$1F"
  // or "0x1F" are refused like any other text that is not a decimal number.
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return std::nullopt;
  return static_cast<int>(value);
}

TServerF::TServerF(FormContext context)
    : LobbyForm("Choosing a Server...", 640, 480), context_(context) {
  SetFontWhenShown(DialogFont());
  AddLabel(this, "Available Servers", 96, 56);
  ServerList = new QListWidget(this);
  ServerList->setGeometry(96, 72, 441, 97);
  StyleList(ServerList);
  // Finding a fixed-pitch face opens it; the list needs it first when shown.
  WhenShown(ServerList, [list = ServerList] { list->setFont(FixedPitchFont()); });
  AddLabel(this, "Current Server", 96, 176);
  tServer = AddEdit(this, 96, 192, 441, 21);
  bOk = new BitmapButton(Glyph::Ok, "OK", this);
  bOk->setGeometry(16, 296, 85, 41);
  bCancel = new BitmapButton(Glyph::Cancel, "Cancel", this);
  bCancel->setGeometry(120, 296, 85, 41);
  SetDefaultButton(bOk);
  SetCancelButton(bCancel);
  setTabOrder(ServerList, tServer);
  setTabOrder(tServer, bOk);
  setTabOrder(bOk, bCancel);

  FormCreate();

  // Connected only now: selecting the first row while building copies
  // nothing into the field. A click on the row already selected still
  // copies, so clicks are taken as well as moves with the keys.
  connect(ServerList, &QListWidget::itemClicked, this, [this] { ServerListClick(); });
  connect(ServerList, &QListWidget::currentRowChanged, this, [this] { ServerListClick(); });
  connect(ServerList, &QListWidget::itemDoubleClicked, this, [this] { ServerListDbClick(); });
  connect(bOk, &QPushButton::clicked, this, [this] { bOkClick(); });
  connect(bCancel, &QPushButton::clicked, this, [this] { bCancelClick(); });
}

std::string TServerF::ServerFile() const { return Values().InstallDir + "SERVERS.INI"; }

void TServerF::FormCreate() {
  LoadBackground(Values().InstallDir + "Bitmaps\\Cv_sec.bmp");
  ServerList->clear();
  const std::string file = ServerFile();
  const std::string countText = ReadIniString(kSection, "ServerCount", file);
  int count = 0;
  if (!countText.empty()) {
    const std::optional<int> parsed = ParseServerCount(countText);
    if (!parsed) {
      // The framework's own box for a failed conversion; the rest of the
      // creation is skipped and the program goes on.
      QMessageBox box(QMessageBox::Critical, kApplicationTitle,
                      QString::fromStdString("'" + countText + "' is not a valid integer value"), QMessageBox::Ok);
      box.exec();
      return;
    }
    count = *parsed;
  }
  FillServerList(file, count);
}

void TServerF::FillServerList(const std::string& file, int count) {
  if (count > 0) {
    for (int n : EntryNumbersInFile(file, count)) {
      const std::string number = std::to_string(n);
      const std::string address = ReadIniString(kSection, "Server" + number, file);
      if (address.empty()) continue;
      const std::string name = ReadIniString(kSection, "Name" + number, file);
      const std::string location = ReadIniString(kSection, "Location" + number, file);
      auto* item = new QListWidgetItem(ToQt(ServerRow(address, name, location)), ServerList);
      item->setSizeHint(QSize(0, kRowHeight));
    }
  }
  if (ServerList->count() > 0) ServerList->setCurrentRow(0);
  const std::string current = ReadIniString(kSection, "CurrentServer", file);
  tServer->setText(ToQt(current.empty() ? std::string(kDefaultServerAddress) : current));
}

void TServerF::ServerListClick() {
  QListWidgetItem* item = ServerList->currentItem();
  if (item == nullptr) return;
  if (const std::optional<std::string> address = AddressOfRow(FromQt(item->text()))) tServer->setText(ToQt(*address));
}

void TServerF::ServerListDbClick() { bOkClick(); }

void TServerF::bOkClick() {
  // Stored as typed: no trimming and no check; a failed write goes
  // unnoticed, as the join reads whatever the file then holds.
  WriteIniString(kSection, "CurrentServer", FromQt(tServer->text()), ServerFile());
  context_.core.SetState(State::stRegister);
  hide();
}

void TServerF::bCancelClick() { hide(); }

void TServerF::FormClose() { bCancelClick(); }

}  // namespace lobby
