// PNG pictures of the three windows and of the main window in the middle of an update, for
// the documentation and for a look by eye. Also checks the colours the pictures must show.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QTest>

#include "ColorBtns.h"
#include "Gauges.h"
#include "window_rig.h"

namespace window_test {
namespace {

QImage Save(QWidget& window, const QString& name) {
  const QImage picture = window.grab().toImage();
  EXPECT_TRUE(picture.save(ScreenshotFolder() + "/" + name + ".png")) << name.toStdString();
  return picture;
}

TEST(Screenshots, ThreeWindowsAndAnUpdateInProgress) {
  WindowRig rig(BuiltInImage(), "[Options]\nIO_Auto=1\nUseDevice=0\n");
  rig.Show();
  const QImage idle = Save(*rig.form, "main-window");
  // Navy at the top edge, gradient white in the middle of the background, gold text.
  EXPECT_EQ(QColor(idle.pixel(1, 1)), QColor(0, 0, 128));
  const QColor middle(idle.pixel(364, 16 + 80));
  EXPECT_GT(middle.blue(), 240);
  EXPECT_GT(middle.red(), 240);

  QImage running;
  rig.onPump = [&] {
    if (running.isNull() && rig.form->ProgressBar1->Progress() >= 70) {
      running = Save(*rig.form, "main-window-updating");
    }
  };
  rig.form->Button1Click();
  rig.onPump = nullptr;
  ASSERT_FALSE(running.isNull());
  EXPECT_NE(running, idle);

  bool optionsSaved = false;
  new OnShow(rig.options.get(), [&] {
    Save(*rig.options, "options-dialog");
    optionsSaved = true;
    QTest::keyClick(rig.options.get(), Qt::Key_Escape);
  });
  rig.form->Color95Button1Click();
  EXPECT_TRUE(optionsSaved);

  bool messageSaved = false;
  new OnShow(rig.messages.get(), [&] {
    Save(*rig.messages, "message-dialog");
    messageSaved = true;
    QTest::keyClick(rig.messages.get(), Qt::Key_Escape);
  });
  rig.form->ShowMessageForm(
      "Fehler beim Einlesen der Daten aufgetreten, möglicherweise wurde ein falsches Modul "
      "gesteckt.\r\nBeachten Sie bitte, dass für jede Modulausführung wie Granit,\r\nFeder und QX "
      "ein eigenes Update verwendet werden muß. ",
      "Fehler");
  EXPECT_TRUE(messageSaved);
}

}  // namespace
}  // namespace window_test
