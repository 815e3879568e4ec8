#include "dialog_parts.hpp"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <utility>
#include <vector>

namespace lobby {

namespace {

// The first of the families that is installed, else the system's face.
QString FirstPresent(std::initializer_list<const char*> families) {
  // The database names a face found at several foundries "Name [foundry]".
  QStringList present;
  for (const QString& family : QFontDatabase::families()) present << family.section(QStringLiteral(" ["), 0, 0);
  for (const char* family : families) {
    if (present.contains(QString::fromLatin1(family), Qt::CaseInsensitive)) return QString::fromLatin1(family);
  }
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

void SetColours(QWidget* widget, QPalette::ColorRole back, QPalette::ColorRole text) {
  QPalette palette = widget->palette();
  palette.setColor(back, kFieldColour);
  palette.setColor(text, Qt::white);
  palette.setColor(QPalette::Highlight, QColor(70, 130, 220));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  widget->setPalette(palette);
}

// Runs what was asked, in order, when the widget is next shown: after it
// took its style and font, before it is painted. Not when it is polished:
// Qt polishes every widget, hidden or not, as soon as the loop runs, which
// for the forms hidden at start-up is right between the splash being mapped
// and its first paint. One per widget, however many times it is asked;
// asked of a visible widget, the work is done at once.
class OnNextShow : public QObject {
 public:
  static void Add(QWidget* widget, std::function<void()> run) {
    if (widget->isVisible()) {
      run();
      return;
    }
    OnNextShow* self = nullptr;
    for (QObject* child : widget->children()) {
      auto* waiting = dynamic_cast<OnNextShow*>(child);
      if (waiting != nullptr && !waiting->done_) self = waiting;
    }
    if (self == nullptr) self = new OnNextShow(widget);
    self->runs_.push_back(std::move(run));
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show || watched != parent()) return false;
    watched->removeEventFilter(this);
    // Deleted later: what is asked until then waits for the next show.
    done_ = true;
    const std::vector<std::function<void()>> runs = std::move(runs_);
    deleteLater();
    for (const auto& run : runs) run();
    return false;
  }

 private:
  explicit OnNextShow(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }

  std::vector<std::function<void()>> runs_;
  bool done_ = false;
};

}  // namespace

void WhenShown(QWidget* widget, std::function<void()> run) { OnNextShow::Add(widget, std::move(run)); }

QFont DialogFont() {
  // The metrics of the dialogs were made for a narrow 11-pixel face; the
  // wide default faces of a Linux desktop would overflow the labels. Every
  // label asks for it, so the face is looked up once.
  static const QString family =
      FirstPresent({"MS Sans Serif", "Arial", "Liberation Sans", "Nimbus Sans", "Helvetica", "DejaVu Sans"});
  QFont font(family);
  font.setPixelSize(11);
  return font;
}

QFont HeadingFont() {
  QFont font = DialogFont();
  font.setPixelSize(13);
  font.setItalic(true);
  return font;
}

QFont FixedPitchFont() {
  // Where the face is missing the font system substitutes its look-alike
  // (a Courier clone), which is the closest; only a face that really is
  // fixed-pitch lines the columns up, though.
  QFont font(QStringLiteral("Courier New"));
  font.setPixelSize(12);
  if (QFontInfo(font).fixedPitch()) return font;
  font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPixelSize(12);
  return font;
}

QLabel* AddLabel(QWidget* parent, const QString& text, int left, int top, const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, Qt::white);
  label->setPalette(palette);
  label->move(left, top);
  // Measuring the text loads its face: the label is sized when first shown,
  // so that no face is loaded for a window nobody sees yet.
  WhenShown(label, [label] { label->adjustSize(); });
  return label;
}

void AddHeading(QWidget* parent, const QString& text, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->setFont(HeadingFont());
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, Qt::white);
  label->setPalette(palette);
  label->move(left, top);
  // Measuring the text opens the italic face, which nothing else uses and
  // the splash does not need: the heading is sized when first shown.
  WhenShown(label, [label] { label->adjustSize(); });
}

QLabel* AddValueLabel(QWidget* parent, int left, int top, int width, int height) {
  auto* label = new QLabel(parent);
  label->setAutoFillBackground(true);
  SetColours(label, QPalette::Window, QPalette::WindowText);
  label->setGeometry(left, top, width, height);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // A field of room for two lines or more wraps its text (decided when
  // first shown, which is when the face is measured).
  WhenShown(label, [label] {
    if (label->height() > 2 * QFontMetrics(label->font()).height() - 4) {
      label->setWordWrap(true);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
  });
  // Values come from other players: never let one be read as markup.
  label->setTextFormat(Qt::PlainText);
  label->setContentsMargins(2, 0, 2, 0);
  return label;
}

QLineEdit* AddEdit(QWidget* parent, int left, int top, int width, int height) {
  auto* edit = new QLineEdit(parent);
  SetColours(edit, QPalette::Base, QPalette::Text);
  edit->setGeometry(left, top, width, height);
  return edit;
}

QComboBox* AddDropDown(QWidget* parent, int left, int top, int width, const QStringList& items) {
  auto* box = new QComboBox(parent);
  box->setEditable(false);
  box->addItems(items);
  SetColours(box, QPalette::Button, QPalette::ButtonText);
  SetColours(box, QPalette::Base, QPalette::Text);
  box->setGeometry(left, top, width, 21);
  return box;
}

void StyleList(QListWidget* list) {
  SetColours(list, QPalette::Base, QPalette::Text);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setUniformItemSizes(true);
}

QString ToQt(const std::string& text) { return QString::fromStdString(text); }
std::string FromQt(const QString& text) { return text.toStdString(); }

}  // namespace lobby
