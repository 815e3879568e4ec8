#include "lobby_form.hpp"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "profile_files.hpp"

namespace lobby {

namespace {
LobbyForm* lastActivated = nullptr;
}

LobbyForm::LobbyForm(const QString& caption, int width, int height, Frame frame) : QWidget(nullptr) {
  Qt::WindowFlags flags = Qt::Window;
  if (frame == Frame::Borderless) {
    flags |= Qt::FramelessWindowHint;
  } else {
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
             Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
  }
  setWindowFlags(flags);
  setWindowTitle(caption);
  setFixedSize(width, height);
  QRect area(0, 0, width, height);
  if (QScreen* screen = QGuiApplication::primaryScreen()) area = screen->availableGeometry();
  // setGeometry places the client area; centring it centres the window
  // closely enough for any frame.
  setGeometry(area.x() + (area.width() - width) / 2, area.y() + (area.height() - height) / 2, width, height);
}

void LobbyForm::LoadBackground(const std::string& windowsPath) {
  background_ = QPixmap(QString::fromStdString(NativePath(windowsPath)));
  update();
}

void LobbyForm::ShowAndActivate() {
  show();
  raise();
  activateWindow();
}

LobbyForm* LobbyForm::LastActivated() { return lastActivated; }

bool LobbyForm::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  if (event->type() == QEvent::WindowActivate && isVisible()) {
    // The program's active window was already this one: the focus came
    // back from another program, which is no activation within this one.
    if (lastActivated != this) {
      lastActivated = this;
      FormActivate();
    }
  }
  return handled;
}

void LobbyForm::paintEvent(QPaintEvent*) {
  if (background_.isNull()) return;
  QPainter painter(this);
  for (int y = 0; y < height(); y += background_.height())
    for (int x = 0; x < width(); x += background_.width()) painter.drawPixmap(x, y, background_);
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

}  // namespace lobby
