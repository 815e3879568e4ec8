#include "lobby_form.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <utility>
#include <vector>

#include "profile_files.hpp"

namespace lobby {

namespace {

LobbyForm* lastActivated = nullptr;

// Every form, the one activated most recently last.
std::vector<LobbyForm*>& ActivationOrder() {
  static std::vector<LobbyForm*> forms;
  return forms;
}

void MoveToBack(LobbyForm* form) {
  auto& forms = ActivationOrder();
  forms.erase(std::remove(forms.begin(), forms.end(), form), forms.end());
  forms.push_back(form);
}

}  // namespace

void SetTextColour(QWidget* widget, const QColor& colour) {
  // A palette, not a style sheet: style sheets cost milliseconds each at
  // start-up.
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  widget->setPalette(palette);
}

QFont FormFont(int pixelSize, bool bold) {
  // Narrow faces first: the captions were fitted to an 8-point face of the
  // width of these, and wider ones no longer fit their labels.
  QFont font;
  font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Nimbus Sans Narrow"),
                    QStringLiteral("Sans Serif")});
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

LobbyForm::LobbyForm(const QString& caption, int width, int height, Frame frame) : QWidget(nullptr) {
  Qt::WindowFlags flags = Qt::Window;
  if (frame == Frame::Borderless) {
    // Of dialog type: Qt tells the window system of a window's owner (the
    // transient-for hint that keeps it above) only for dialogs and tools.
    flags = Qt::Dialog | Qt::FramelessWindowHint;
  } else {
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
             Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
  }
  setWindowFlags(flags);
  setWindowTitle(caption);
  setFont(FormFont());
  setFixedSize(width, height);
  QRect area(0, 0, width, height);
  if (QScreen* screen = QGuiApplication::primaryScreen()) area = screen->availableGeometry();
  // setGeometry places the client area; centring it centres the window
  // closely enough for any frame.
  setGeometry(area.x() + (area.width() - width) / 2, area.y() + (area.height() - height) / 2, width, height);
  ActivationOrder().insert(ActivationOrder().begin(), this);
}

LobbyForm::~LobbyForm() {
  auto& forms = ActivationOrder();
  forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
  if (lastActivated == this) lastActivated = nullptr;
}

void LobbyForm::SetFontWhenShown(const QFont& font) {
  if (isVisible())
    setFont(font);
  else
    fontWhenShown_ = font;
}

void LobbyForm::setVisible(bool visible) {
  // Before Qt shows the children: what they measure when shown is in the
  // form's face.
  if (visible && fontWhenShown_) setFont(*std::exchange(fontWhenShown_, std::nullopt));
  QWidget::setVisible(visible);
}

void LobbyForm::LoadBackground(const std::string& windowsPath) {
  background_ = QPixmap();
  pendingBackground_ = PendingBitmap(QString::fromStdString(NativePath(windowsPath)));
  update();
}

const QPixmap& LobbyForm::Background() const {
  // Windows that load the same file share one picture.
  if (pendingBackground_.pending()) background_ = QPixmap::fromImage(pendingBackground_.Take());
  return background_;
}

namespace {
// The offscreen platform has no stacking and says so on every call.
bool HasStacking() { return QGuiApplication::platformName() != QLatin1String("offscreen"); }
}  // namespace

void LobbyForm::Raise() {
  if (HasStacking()) raise();
}

void LobbyForm::ActivateNow() {
  Raise();
  activateWindow();
  // The window system reports no activation of a window it still counts as
  // focused: one hidden and shown again with nothing activated in between
  // (the offscreen platform never moves the focus), or one the closing
  // window never took the activation from. It happens here instead.
  if (QApplication::activeWindow() == this)
    Activated();
  else if (QGuiApplication::focusWindow() != nullptr && QGuiApplication::focusWindow() == windowHandle())
    QApplication::setActiveWindow(this);  // reports WindowActivate
}

void LobbyForm::ShowAndActivate() {
  show();
  ActivateNow();
  // Without a window manager nothing keeps an owned window above its owner.
  for (LobbyForm* form : ActivationOrder()) {
    if (form != this && form->owner_ == this && form->isVisible()) form->Raise();
  }
}

void LobbyForm::ShowAgain() {
  // What hiding would have done: the form is no longer the one activated.
  if (lastActivated == this) lastActivated = nullptr;
  ShowAndActivate();
}

void LobbyForm::BringBack() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  ShowAndActivate();
}

void LobbyForm::SetDefaultButton(QAbstractButton* button) {
  if (auto* old = qobject_cast<QPushButton*>(defaultButton_)) old->setDefault(false);
  defaultButton_ = button;
  // A push button shows that it is the default one.
  if (auto* now = qobject_cast<QPushButton*>(button)) now->setDefault(true);
}

void LobbyForm::SetCancelButton(QAbstractButton* button) { cancelButton_ = button; }

void LobbyForm::SetOwner(LobbyForm* owner) {
  if (owner == this) owner = nullptr;
  if (owner_ == owner) return;
  owner_ = owner;
  // The window system learns of an owner when the window is mapped.
  const bool wasVisible = isVisible();
  if (wasVisible) QWidget::hide();
  if (owner != nullptr) owner->winId();
  winId();
  if (QWindow* window = windowHandle()) window->setTransientParent(owner ? owner->windowHandle() : nullptr);
  if (wasVisible) QWidget::show();
}

LobbyForm* LobbyForm::LastActivated() { return lastActivated; }

void LobbyForm::Activated() {
  MoveToBack(this);
  // The program's active window was already this one: the focus came back
  // from another program, which is no activation within this one.
  if (lastActivated == this) return;
  lastActivated = this;
  FormActivate();
}

void LobbyForm::ActivateWindowUnder(LobbyForm* preferred, const LobbyForm* closing) {
  LobbyForm* under = nullptr;
  if (preferred != nullptr && preferred != closing && preferred->isVisible()) {
    under = preferred;
  } else {
    const auto& forms = ActivationOrder();
    for (auto it = forms.rbegin(); it != forms.rend() && under == nullptr; ++it) {
      if (*it != closing && (*it)->isVisible()) under = *it;
    }
  }
  if (under == nullptr) return;
  // It was the program's active window before the closing one took over (or
  // would have), so this is an activation within the program.
  if (lastActivated == under) lastActivated = nullptr;
  under->ActivateNow();
}

bool LobbyForm::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  if (event->type() == QEvent::WindowActivate && isVisible()) Activated();
  return handled;
}

void LobbyForm::paintEvent(QPaintEvent*) {
  const QPixmap& background = Background();
  if (background.isNull()) return;
  // Repeated from the top-left corner, a bitmap's width and height at a
  // time, in one fill: a tiny bitmap would otherwise cost a drawing call
  // per pixel of the window on every paint.
  QPainter painter(this);
  painter.drawTiledPixmap(rect(), background);
}

void LobbyForm::closeEvent(QCloseEvent* event) {
  // The form outlives its window being closed: the handler decides.
  event->ignore();
  FormClose();
}

void LobbyForm::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (lastActivated == this) lastActivated = nullptr;
}

void LobbyForm::keyPressEvent(QKeyEvent* event) {
  QAbstractButton* target = nullptr;
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Only keys no field took come here: a drop-down's open list, for one,
    // keeps its Enter.
    target = qobject_cast<QPushButton*>(focusWidget());
    if (target == nullptr || target->window() != this || !target->isVisible() || !target->isEnabled())
      target = defaultButton_;
  } else if (event->key() == Qt::Key_Escape) {
    target = cancelButton_;
  }
  if (target != nullptr && target->isVisible() && target->isEnabled()) {
    target->click();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace lobby
