// The pictures loader.exe's windows showed under Wine (saved by loader_window_wine) against the
// Qt windows rendered here: wherever no text is involved they must be the same pixel for pixel.
// The gradient rows, the gauge's bar and colours, the Start Update face and the middle of the
// buttons' bevels are compared; glyphs of text differ between the fonts of the two systems, and
// so do the sloped parts of the bevel's arcs, even a few pixels beside the middle of the lower
// ones (GDI's wide pens and Qt's lay their pixels differently).
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <string>
#include <vector>

#include "ColorBtns.h"
#include "window_rig.h"

namespace window_test {
namespace {

// Ports probed from 0x300, no driver: the simulated module answers at 0x320.
constexpr const char* kPortsAuto = "[Options]\nIO_Auto=1\nUseDevice=0\n";

struct Region {
  const char* what;
  QRect area;
};

QImage Win32Picture(const char* name) {
  return QImage(QDir(ScreenshotFolder()).filePath(QString::fromUtf8(name)))
      .convertToFormat(QImage::Format_RGB32);
}

// Counts the pixels of `area` that differ; prints the first.
int Differences(const QImage& qt, const QImage& win32, const QRect& area) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if ((qt.pixel(x, y) & 0xFFFFFF) == (win32.pixel(x, y) & 0xFFFFFF)) continue;
      if (count++ == 0) {
        ADD_FAILURE() << "first difference at " << x << "," << y << ": Qt " << std::hex
                      << (qt.pixel(x, y) & 0xFFFFFF) << ", Win32 "
                      << (win32.pixel(x, y) & 0xFFFFFF);
      }
    }
  }
  return count;
}

void Compare(const QImage& qt, const QImage& win32, const std::vector<Region>& regions) {
  ASSERT_EQ(qt.size(), win32.size());
  for (const Region& r : regions) EXPECT_EQ(Differences(qt, win32, r.area), 0) << r.what;
}

#define REQUIRE_WIN32_PICTURE(image, name)                                                      \
  const QImage image = Win32Picture(name);                                                      \
  if (image.isNull()) {                                                                         \
    GTEST_SKIP() << "no picture " name " of loader.exe in " << ScreenshotFolder().toStdString() \
                 << " (loader_window_wine did not run: no Wine or no Windows tree)";            \
  }

TEST(Win32Pictures, MainWindowAfterAnUpdate) {
  REQUIRE_WIN32_PICTURE(win32, "windows-main.png");
  WindowRig rig(BuiltInImage(), kPortsAuto);
  rig.Show();
  QTest::mouseClick(rig.form->Button1, Qt::LeftButton, {}, QPoint(136, 24));
  QTest::mouseMove(rig.form.get(), QPoint(1, 1));  // no button lit
  ASSERT_EQ(rig.form->Label6->text(), "Ready");
  const QImage qt = rig.form->grab().toImage().convertToFormat(QImage::Format_RGB32);
  Compare(qt, win32,
          {
              {"gradient rows, left of the buttons", QRect(0, 0, 8, 191)},
              {"gradient rows, right of Start Update", QRect(338, 44, 31, 106)},
              {"gauge left of its text", QRect(88, 170, 100, 13)},
              {"gauge right of its text", QRect(262, 170, 99, 13)},
              {"Start Update: middle of the bevels and face", QRect(198, 72, 5, 14)},
              {"Start Update: middle of the lower bevel", QRect(200, 108, 1, 13)},
              {"Optionen: middle of the upper bevel", QRect(44, 56, 1, 4)},
              {"Exit: middle of the lower bevel", QRect(44, 133, 1, 4)},
          });
}

TEST(Win32Pictures, Dialogs) {
  REQUIRE_WIN32_PICTURE(options, "windows-options.png");
  REQUIRE_WIN32_PICTURE(message, "windows-message.png");
  WindowRig rig(BuiltInImage(), kPortsAuto);
  rig.options->LoadFrom(*rig.link);
  const QImage qt_options = rig.options->grab().toImage().convertToFormat(QImage::Format_RGB32);
  Compare(qt_options, options,
          {
              {"options: gradient rows left of the panel", QRect(0, 0, 16, 204)},
              {"options: middle of OK's upper bevel", QRect(136, 152, 1, 4)},
          });
  rig.messages->Label1->setText("x");
  const QImage qt_message = rig.messages->grab().toImage().convertToFormat(QImage::Format_RGB32);
  Compare(qt_message, message,
          {
              {"message: gradient rows left of the text", QRect(0, 0, 16, 132)},
              {"message: middle of OK's upper bevel", QRect(208, 85, 1, 4)},
          });
}

}  // namespace
}  // namespace window_test
