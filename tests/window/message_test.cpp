// The message dialog on its own, and the Qt application object's message boxes.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include "ColorBtns.h"
#include "message_form.h"
#include "qt_host.h"
#include "window_rig.h"

namespace window_test {
namespace {

struct CloseCase {
  const char* name;
  std::function<void(TMessageForm&)> close;
};

class MessageDialogClosing : public ::testing::TestWithParam<CloseCase> {};

TEST_P(MessageDialogClosing, ReturnsWithTheCaptionPassed) {
  TMessageForm form;
  EXPECT_EQ(form.windowTitle(), "Meldung");
  QString caption;
  QString text;
  OnShow watch(&form, [&] {
    caption = form.windowTitle();
    text = form.Label1->text();
    GetParam().close(form);
  });
  form.ShowMessageForm("Erste Zeile\r\nzweite Zeile mit Umlauten äöü", "Fehler");
  EXPECT_EQ(watch.Shown(), 1);
  EXPECT_EQ(caption, "Fehler");
  EXPECT_EQ(text, "Erste Zeile\nzweite Zeile mit Umlauten äöü");
  EXPECT_TRUE(form.isHidden());
}

INSTANTIATE_TEST_SUITE_P(
    Window, MessageDialogClosing,
    ::testing::Values(
        CloseCase{"OkButton",
                  [](TMessageForm& f) {
                    QTest::mouseClick(f.Button1, Qt::LeftButton, {}, QPoint(56, 16));
                  }},
        CloseCase{"Space", [](TMessageForm& f) { QTest::keyClick(&f, Qt::Key_Space); }},
        CloseCase{"Enter", [](TMessageForm& f) { QTest::keyClick(&f, Qt::Key_Return); }},
        CloseCase{"KeypadEnter",
                  [](TMessageForm& f) { QTest::keyClick(&f, Qt::Key_Enter, Qt::KeypadModifier); }},
        CloseCase{"Escape", [](TMessageForm& f) { QTest::keyClick(&f, Qt::Key_Escape); }},
        CloseCase{"CloseBox", [](TMessageForm& f) { f.close(); }},
        CloseCase{"OtherKeysDoNothing",
                  [](TMessageForm& f) {
                    for (Qt::Key key : {Qt::Key_A, Qt::Key_Tab, Qt::Key_O, Qt::Key_F1}) {
                      QTest::keyClick(&f, key);
                    }
                    EXPECT_TRUE(f.isVisible());
                    QTest::keyClick(&f, Qt::Key_Escape);
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MessageDialog, FollowsTheLayoutTable) {
  TMessageForm form;
  using namespace message_form;
  EXPECT_EQ(form.size(), QSize(kClientSize.Width, kClientSize.Height));
  EXPECT_EQ(form.pos(), QPoint(kScreenPosition.X, kScreenPosition.Y));
  EXPECT_EQ(form.Label1->geometry(), ToQRect(kLabel1.Rect()));
  EXPECT_TRUE(form.Label1->wordWrap());
  EXPECT_TRUE(form.Label1->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(form.Button1->geometry(), ToQRect(kButton1.Rect()));
  EXPECT_EQ(form.Button1->Caption(), "OK");
}

TEST(MessageDialog, GlobalShowMessageFormUsesTheProgramsDialog) {
  TMessageForm form;
  MessageForm = &form;
  OnShow watch(&form, [&] { QTest::keyClick(&form, Qt::Key_Space); });
  ShowMessageForm("Text", "Information");
  MessageForm = nullptr;
  ShowMessageForm("nobody to show it", "Fehler");  // no dialog: returns at once
  EXPECT_EQ(watch.Shown(), 1);
  EXPECT_EQ(form.windowTitle(), "Information");
}

// --- The application object's boxes
// ------------------------------------------------------------------

// Acts on the next modal box once it is up.
void WithModalBox(std::function<void(QMessageBox&)> action) {
  QTimer::singleShot(0, [action] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    action(*box);
  });
}

QAbstractButton* ButtonCalled(QMessageBox& box, const QString& text) {
  for (QAbstractButton* button : box.buttons()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

struct RetryCase {
  const char* name;
  std::function<void(QMessageBox&)> answer;
  bool retry;
};

class RetryDialog : public ::testing::TestWithParam<RetryCase> {};

TEST_P(RetryDialog, OkRetriesEverythingElseCancels) {
  QtHost host;
  std::vector<QString> buttons;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString text;
  WithModalBox([&](QMessageBox& box) {
    caption = box.windowTitle();
    icon = box.icon();
    text = box.text();
    for (QAbstractButton* button : box.buttons()) buttons.push_back(button->text());
    GetParam().answer(box);
  });
  EXPECT_EQ(host.AskRetry("Zeile eins\r\nZeile zwei"), GetParam().retry);
  EXPECT_EQ(caption, "Information");
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_EQ(text, "Zeile eins\nZeile zwei");
  std::sort(buttons.begin(), buttons.end());
  EXPECT_EQ(buttons, (std::vector<QString>{"&Abbrechen", "OK"}));
}

INSTANTIATE_TEST_SUITE_P(
    Window, RetryDialog,
    ::testing::Values(
        RetryCase{"Ok", [](QMessageBox& b) { ButtonCalled(b, "OK")->click(); }, true},
        RetryCase{"Enter", [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }, true},
        RetryCase{"Abbrechen", [](QMessageBox& b) { ButtonCalled(b, "&Abbrechen")->click(); },
                  false},
        RetryCase{"Escape", [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }, false},
        RetryCase{"CloseBox", [](QMessageBox& b) { b.close(); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SystemMessage, ShowsTitleAndTextWithOk) {
  QtHost host;
  for (bool systemModal : {true, false}) {
    QString caption;
    QString text;
    Qt::WindowModality modality = Qt::NonModal;
    WithModalBox([&](QMessageBox& box) {
      caption = box.windowTitle();
      text = box.text();
      modality = box.windowModality();
      ASSERT_EQ(box.buttons().size(), 1);
      EXPECT_EQ(box.buttons().front()->text(), "OK");
      box.buttons().front()->click();
    });
    host.ShowSystemMessage("Die IO-Adresse ist möglicherweise unzulässig !", "Warnung",
                           systemModal);
    EXPECT_EQ(caption, "Warnung");
    EXPECT_EQ(text, "Die IO-Adresse ist möglicherweise unzulässig !");
    if (systemModal) {
      EXPECT_EQ(modality, Qt::ApplicationModal);
    }
  }
}

TEST(QtHostPump, ProcessMessagesDeliversPendingEvents) {
  QtHost host;
  int delivered = 0;
  QTimer::singleShot(0, [&] { ++delivered; });
  host.ProcessMessages();
  EXPECT_EQ(delivered, 1);
  host.ProcessMessages();  // nothing pending: returns at once
  EXPECT_EQ(delivered, 1);
}

}  // namespace
}  // namespace window_test
