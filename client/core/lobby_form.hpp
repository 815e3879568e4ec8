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
// explicitly, and the message box hands activation back (ActivateWindowUnder).
//
// Keys: Enter presses the focused push button, else the default button;
// Escape presses the cancel button (a plain window has neither by itself).
#pragma once

#include <QFont>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <optional>
#include <string>

#include "bitmap_loader.hpp"

class QAbstractButton;

namespace lobby {

class LobbyForm : public QWidget {
  Q_OBJECT
 public:
  // Borderless: a box kept above an owner (SetOwner), with no frame.
  enum class Frame { Standard, Borderless };

  LobbyForm(const QString& caption, int width, int height, Frame frame = Frame::Standard);
  ~LobbyForm() override;

  // Loads the background from a Windows-style path; a missing or unreadable
  // file leaves the plain window colour. The file is decoded aside and
  // taken when the window is first painted (bitmap_loader.hpp).
  void LoadBackground(const std::string& windowsPath);
  bool hasBackground() const { return !Background().isNull(); }

  // Visible, in front (with the windows it owns above it), and the active
  // window.
  void ShowAndActivate();
  // The same for a form on screen already, as if it had been hidden first:
  // its activation (FormActivate) runs again.
  void ShowAgain();
  // Back in front, out of the task bar if it was minimised: the person asked
  // for the window from outside the program (a notification's click).
  void BringBack();

  // The form's own face, set just before the form is first shown (and so
  // before any of its captions is measured). A text field lays out its text
  // in its form's face when it is made, which opens the face: a window
  // hidden at start-up has no need of it until it is shown.
  void SetFontWhenShown(const QFont& font);
  void setVisible(bool visible) override;

  void SetDefaultButton(QAbstractButton* button);
  void SetCancelButton(QAbstractButton* button);

  // Keeps this window above owner (none: no owner). With a window manager
  // that is the manager's job; without one, ShowAndActivate of the owner
  // raises this window after it.
  void SetOwner(LobbyForm* owner);
  LobbyForm* Owner() const { return owner_; }

  // The form the program activated last (null after it was hidden).
  static LobbyForm* LastActivated();
  // Gives the activation to the window a closing window uncovers: preferred
  // when it is visible, else the visible form activated most recently. The
  // form's FormActivate runs even where the window system would not
  // activate anything, and also when the window was still the active one
  // (the closing window never got the activation).
  static void ActivateWindowUnder(LobbyForm* preferred, const LobbyForm* closing);

 protected:
  // The form became the active window of the program.
  virtual void FormActivate() {}
  // The close box was used; the window stays unless the handler hides it.
  virtual void FormClose() { hide(); }

  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Activated();
  void ActivateNow();
  void Raise();
  const QPixmap& Background() const;

  mutable PendingBitmap pendingBackground_;
  mutable QPixmap background_;
  QPointer<QAbstractButton> defaultButton_;
  QPointer<QAbstractButton> cancelButton_;
  QPointer<LobbyForm> owner_;
  std::optional<QFont> fontWhenShown_;
};

// Gives a label (or any widget's text) a colour of its own. Labels are
// transparent already: they paint no background.
void SetTextColour(QWidget* widget, const QColor& colour);

// The font of the forms' text: a sans serif of the size and width the
// windows were laid out for (labels 13 pixels high).
QFont FormFont(int pixelSize = 10, bool bold = false);

}  // namespace lobby
