// Saves a picture of the whole screen of the current display after an optional delay.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  if (argc < 2) return 2;
  if (argc > 2) QThread::msleep(static_cast<unsigned long>(std::atol(argv[2])));
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return 1;
  return screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
