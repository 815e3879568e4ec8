#include "message_form.hpp"

#include <QPainter>
#include <QPalette>
#include <QWindow>

#include "core/sound.hpp"

namespace lobby {

namespace {
const QColor kNavy(0, 0, 128);
}

// Borderless, so the caption shows nowhere on screen; it names the window to
// the window system and to assistive tools.
TMessageF::TMessageF(FormContext context) : LobbyForm(kMessageCaption, 281, 168, Frame::Borderless), context_(context) {
  fMess = new QGroupBox(this);
  fMess->setObjectName("fMess");
  fMess->setGeometry(8, 8, 265, 153);
  fMess->setAutoFillBackground(true);
  QPalette navy = fMess->palette();
  navy.setColor(QPalette::Window, kNavy);
  fMess->setPalette(navy);

  lMess = new QLabel(fMess);
  lMess->setObjectName("lMess");
  lMess->setGeometry(8, 16, 249, 97);
  lMess->setFont(FormFont(13));
  lMess->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  lMess->setWordWrap(true);
  SetTextColour(lMess, Qt::white);

  bOkMess = new QPushButton(QStringLiteral("OK"), fMess);
  bOkMess->setObjectName("bOkMess");
  bOkMess->setGeometry(96, 120, 75, 25);
  bOkMess->setAccessibleName(QStringLiteral("OK"));
  bOkMess->setToolTip(QStringLiteral("Close this message and silence any sound"));
  connect(bOkMess, &QPushButton::clicked, this, &TMessageF::bOkMessClick);
  SetDefaultButton(bOkMess);
  SetCancelButton(bOkMess);
}

TMessageF::~TMessageF() {
  // FormDestroy: no owner any more (the owner may go first at exit).
  if (QWindow* window = windowHandle()) window->setTransientParent(nullptr);
}

void TMessageF::ShowText(LobbyForm* owner, const std::string& text) {
  SetOwner(owner);
  ShowAndActivate();
  lMess->setText(QString::fromStdString(text));
  fMess->show();
  bOkMess->setFocus();
}

void TMessageF::Close(bool silence) {
  if (silence) StopAllSound();
  fMess->hide();
  hide();
  ActivateWindowUnder(Owner(), this);
}

void TMessageF::bOkMessClick() { Close(true); }

// Without a frame there is no close box; a window manager's close key only
// hides the box and leaves any sound playing.
void TMessageF::FormClose() { Close(false); }

void TMessageF::paintEvent(QPaintEvent* event) {
  LobbyForm::paintEvent(event);
  QPainter painter(this);
  const QRect outer = kShape1;
  const QRect inner = outer.adjusted(kShape1Pen, kShape1Pen, -kShape1Pen, -kShape1Pen);
  QRegion frame = QRegion(outer).subtracted(QRegion(inner));
  painter.setClipRegion(frame);
  painter.fillRect(outer, Qt::red);
}

}  // namespace lobby
