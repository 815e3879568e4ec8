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
#include <string>

namespace lobby {

class HelpWindow : public QWidget {
  Q_OBJECT
 public:
  HelpWindow();

  // Loads the file (Windows-style path) and shows its contents from the top.
  // A file that cannot be read shows a line that says so.
  void ShowContents(const std::string& windowsPath);

  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

}  // namespace lobby
