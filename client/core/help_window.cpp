#include "help_window.hpp"

#include <QFileInfo>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

#include "profile_files.hpp"
#include "regular_file.hpp"

namespace lobby {

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
  // Links and pictures beside the help file, nothing from anywhere else. A
  // refusal is an empty resource, not a null one: the document would read
  // the file itself after a null one.
  const QUrl url = document()->baseUrl().resolved(name);
  const std::optional<std::string> bytes =
      url.isLocalFile() ? ReadRegularFile(url.toLocalFile().toStdString(), kMaxHelpBytes) : std::nullopt;
  const QByteArray data = bytes ? QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size())) : QByteArray("");
  if (type == QTextDocument::HtmlResource || type == QTextDocument::StyleSheetResource ||
      type == QTextDocument::MarkdownResource)
    return QString::fromUtf8(data);
  return data;
}

HelpWindow::HelpWindow() : QWidget(nullptr), browser_(new HelpBrowser(this)) {
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
  if (const std::optional<std::string> html = ReadRegularFile(path.toStdString(), kMaxHelpBytes)) {
    // Relative links and pictures resolve beside the file.
    browser_->document()->setBaseUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath() + "/"));
    browser_->setHtml(QString::fromUtf8(html->data(), static_cast<qsizetype>(html->size())));
  } else {
    browser_->setPlainText(QStringLiteral("The help file %1 could not be read.").arg(path));
  }
  browser_->moveCursor(QTextCursor::Start);
  show();
  raise();
  activateWindow();
}

}  // namespace lobby
