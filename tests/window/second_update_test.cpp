// "Start Update" twice in one program run: the first run programs the module and ends in
// "Ready"; the second finds the module holding that software and tells so in the message
// dialog. Nothing stays disabled, and each run opens and closes the link once.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include "ColorBtns.h"
#include "Gauges.h"
#include "window_rig.h"

namespace window_test {
namespace {

TEST(SecondUpdateInTheWindow, ReadyThenTheInformationThatTheSoftwareWasIdentical) {
  SmallImage small;
  WindowRig rig(small.View(), "[Options]\nIO_Auto=1\nUseDevice=0\n");
  rig.Show();
  std::vector<std::pair<std::string, std::string>> shown;
  TMessageForm* dialog = rig.messages.get();
  new OnShow(dialog, [&] {
    shown.emplace_back(dialog->Label1->text().toStdString(), dialog->windowTitle().toStdString());
    QTest::mouseClick(dialog->Button1, Qt::LeftButton, {}, QPoint(56, 16));
  });

  QTest::mouseClick(rig.form->Button1, Qt::LeftButton, {}, QPoint(136, 24));
  EXPECT_EQ(rig.form->Label6->text(), "Ready");
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(rig.form->AllButtonsEnabled());
  EXPECT_EQ(rig.module->ResetCount(), 1);
  EXPECT_EQ(rig.Closes(), 1);

  QTest::mouseClick(rig.form->Button1, Qt::LeftButton, {}, QPoint(136, 24));
  EXPECT_EQ(shown, (std::vector<std::pair<std::string, std::string>>{
                       {"Die Software im Modul war identisch !", "Information"}}));
  EXPECT_TRUE(rig.messages->isHidden());
  EXPECT_EQ(rig.form->Label6->text(), "");
  EXPECT_EQ(rig.form->ProgressBar1->Progress(), 0);
  EXPECT_TRUE(rig.form->AllButtonsEnabled());
  EXPECT_EQ(rig.module->ResetCount(), 2);
  EXPECT_EQ(rig.Closes(), 2);
  EXPECT_TRUE(rig.module->ReceivedImageIntact());
}

}  // namespace
}  // namespace window_test
