#include "open_form.hpp"

#include <QGuiApplication>
#include <QWindow>

#include "client_core.hpp"
#include "client_values.hpp"
#include "profile_files.hpp"
#include "single_instance.hpp"
#include "sound.hpp"

namespace lobby {

TOpen::TOpen(FormContext context) : LobbyForm(kSplashCaption, 640, 480), context_(context) {
  LoadingIm = new QLabel(QStringLiteral("Loading, please wait..."), this);
  LoadingIm->setObjectName("LoadingIm");
  LoadingIm->setFont(FormFont(24, true));
  SetTextColour(LoadingIm, Qt::red);
  LoadingIm->setAlignment(Qt::AlignCenter);
  LoadingIm->setGeometry(0, 396, 640, 48);
  LoadingIm->hide();

  bOk = new BitmapButton(Glyph::Ok, QStringLiteral("OK"), this);
  bOk->setObjectName("bOk");
  bOk->setGeometry(280, 400, 81, 41);
  connect(bOk, &QPushButton::clicked, this, &TOpen::bOkClick);
  SetDefaultButton(bOk);

  FormCreate();
}

void TOpen::FormCreate() {
  const auto prepareOwnWindow = [this] {
    // The search must meet this window before any other copy's: it exists
    // now, with its caption, above every other window (a window just made
    // is; the search goes from the top). Not lowered or raised: with a
    // window manager that request waits for the manager.
    winId();
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
    // The search asks the window system, which has seen nothing of this
    // window until Qt's requests are flushed and answered.
    QGuiApplication::sync();
  };
  if (AnotherInstanceRuns(kSplashCaption, prepareOwnWindow)) {
    context_.core.ui().FatalMessage("QOR's Corvane Game is already running.");
    return;
  }
  ClientValues& v = Values();
  v.InstallDir = ReadInstallDir();
  LoadBackground(v.InstallDir + "Bitmaps\\Cv_first.bmp");
  v.HelpFile = v.InstallDir + "Corva.hlp";
  v.InSubGroup = false;
  PlaySoundFile(v.InstallDir + "Zudeduzu.wav", kSoundAsyncLoop);
  v.MusicPlaying = true;
}

void TOpen::Leave() {
  StopAllSound();
  bOk->hide();
  LoadingIm->show();
  context_.core.SetState(State::stRegister);
}

void TOpen::bOkClick() { Leave(); }

void TOpen::FormClose() {
  // The main form: closing it ends the program.
  Leave();
  context_.core.ui().QuitLoop();
}

}  // namespace lobby
