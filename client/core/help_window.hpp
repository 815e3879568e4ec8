// help_window.hpp - the window that shows the application's help file
// (internal).
//
// The help file is one HTML document; this window shows its contents, with
// its links between sections, and can be scrolled and read through. It is an
// ordinary window of its own, not one of the lobby's forms: showing it is no
// activation of any form.
#pragma once

#include <QTextBrowser>
#include <QWidget>
#include <cstddef>
#include <string>

namespace lobby {

// The help and every picture it shows are read whole; a pipe or a device in
// their place is never waited on.
inline constexpr std::size_t kMaxHelpBytes = std::size_t{4} << 20;

// Shows the help; its pictures are read from files as the help is.
class HelpBrowser : public QTextBrowser {
  Q_OBJECT
 public:
  using QTextBrowser::QTextBrowser;
  QVariant loadResource(int type, const QUrl& name) override;
};

class HelpWindow : public QWidget {
  Q_OBJECT
 public:
  HelpWindow();

  // Loads the file (Windows-style path) and shows its contents from the top.
  // A file that cannot be read, or is no regular file of at most
  // kMaxHelpBytes, shows a line that says so.
  void ShowContents(const std::string& windowsPath);

  QTextBrowser* browser() const { return browser_; }

 private:
  HelpBrowser* browser_;
};

}  // namespace lobby
