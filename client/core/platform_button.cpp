#include "platform_button.hpp"

#include <QMouseEvent>

namespace lobby {

namespace {
constexpr unsigned kLeftButtonUp = 514;
}

PlatformButton::PlatformButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
  window_ = plat_window_create(&PlatformButton::WindowProc, this);
}

PlatformButton::~PlatformButton() {
  // Messages still queued for the window are dropped with it.
  if (window_ != 0) plat_window_destroy(window_);
}

void PlatformButton::WindowProc(plat_hwnd, unsigned msg, uintptr_t, intptr_t, void* user) {
  auto* self = static_cast<PlatformButton*>(user);
  if (msg == kLeftButtonUp && self->onMouseUp_) self->onMouseUp_();
}

void PlatformButton::mouseReleaseEvent(QMouseEvent* event) {
  QPushButton::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && onMouseUp_) onMouseUp_();
}

}  // namespace lobby
