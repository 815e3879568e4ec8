// startup_baseline - the floor for the client's start-up: the least a Qt
// Widgets program does to put one window of the splash's size on screen.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("startup baseline"));
  window.setFixedSize(640, 480);
  window.show();
  return QApplication::exec();
}
