// platform_button.hpp - a hidden button that is also a platform window
// (internal).
//
// The agent and the game engine tell the client about news by posting the
// left-button-up message (514) to a window handle the client gave them. This
// button registers itself as a platform window; a 514 posted to it runs its
// mouse-up handler on the GUI thread, as a real click's release would.
#pragma once

#include <QPushButton>
#include <functional>

#include "platform/platform.h"

namespace lobby {

class PlatformButton : public QPushButton {
  Q_OBJECT
 public:
  PlatformButton(const QString& caption, QWidget* parent);
  ~PlatformButton() override;

  plat_hwnd window() const { return window_; }
  // What a mouse-up (a click's release or a posted 514) runs.
  void setMouseUpHandler(std::function<void()> handler) { onMouseUp_ = std::move(handler); }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  static void WindowProc(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam, void* user);

  plat_hwnd window_ = 0;
  std::function<void()> onMouseUp_;
};

}  // namespace lobby
