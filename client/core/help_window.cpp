#include "help_window.hpp"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QVBoxLayout>

#include "profile_files.hpp"

namespace lobby {

HelpWindow::HelpWindow() : QWidget(nullptr), browser_(new QTextBrowser(this)) {
  setWindowTitle(QStringLiteral("QOR's Corvane Game - Help"));
  setObjectName("HelpWindow");
  resize(600, 520);
  browser_->setOpenExternalLinks(false);
  browser_->setOpenLinks(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
}

void HelpWindow::ShowContents(const std::string& windowsPath) {
  const QString path = QString::fromStdString(NativePath(windowsPath));
  QFile file(path);
  if (file.open(QIODevice::ReadOnly)) {
    // Relative links and pictures resolve beside the file.
    browser_->document()->setBaseUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath() + "/"));
    browser_->setHtml(QString::fromUtf8(file.readAll()));
  } else {
    browser_->setPlainText(QStringLiteral("The help file %1 could not be read.").arg(path));
  }
  browser_->moveCursor(QTextCursor::Start);
  show();
  raise();
  activateWindow();
}

}  // namespace lobby
