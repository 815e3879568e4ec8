// lobby_form.hpp - what every window of the client shares (internal).
//
// Each window is created once at start-up, hidden, and after that only shown
// and hidden. A form has a fixed client area, is centred on the screen, has a
// system menu and a minimise box only, and paints its background bitmap
// tiled from the top-left corner.
//
// Activation: a form re-initialises itself whenever it becomes the active
// window of the program (FormActivate): when it is shown, and when the focus
// comes back to it from another window of the program, such as a message box
// over it. Coming back from another program is not an activation within the
// program and runs nothing. The window system activates a shown window only
// where a window manager runs, so ShowAndActivate asks for activation
// explicitly, and the message box hands activation back to its owner.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <string>

namespace lobby {

class LobbyForm : public QWidget {
  Q_OBJECT
 public:
  enum class Frame { Standard, Borderless };

  LobbyForm(const QString& caption, int width, int height, Frame frame = Frame::Standard);

  // Loads the background from a Windows-style path; a missing or unreadable
  // file leaves the plain window colour.
  void LoadBackground(const std::string& windowsPath);
  bool hasBackground() const { return !background_.isNull(); }

  // Visible, in front, and the active window.
  void ShowAndActivate();

  // The form the program activated last (null after it was hidden).
  static LobbyForm* LastActivated();

 protected:
  // The form became the active window of the program.
  virtual void FormActivate() {}
  // The close box was used; the window stays unless the handler hides it.
  virtual void FormClose() { hide(); }

  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QPixmap background_;
};

}  // namespace lobby
