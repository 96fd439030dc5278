#include "msgunit.h"

#include <QKeyEvent>
#include <QLabel>

#include "ColorBtns.h"
#include "Gradient.h"
#include "form_look.h"
#include "qt_host.h"

TMessageForm* MessageForm = nullptr;

namespace {
constexpr QPoint kScreenPosition(304, 292);
constexpr QSize kClientSize(416, 132);
}  // namespace

TMessageForm::TMessageForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName("MessageForm");
  setWindowTitle("Meldung");
  ApplyFormLook(*this);
  setFixedSize(kClientSize);
  move(kScreenPosition);
  setModal(true);
  setFocusPolicy(Qt::StrongFocus);

  DfGradient1 = new TDfGradient(this);
  DfGradient1->setObjectName("DfGradient1");
  ApplyGradientLook(*DfGradient1);
  DfGradient1->SetAlign(alClient);

  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Label1->setGeometry(16, 16, 385, 57);
  Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label1->setWordWrap(true);
  Label1->setTextFormat(Qt::PlainText);

  Button1 = new TColor95Button(this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(152, 85, 113, 33);
  ApplyButtonLook(*Button1, "OK", DefaultFormFont());
  Button1->OnClick = [this] { Button1Click(); };
}

void TMessageForm::ShowMessageForm(const std::string& text, const std::string& title) {
  Label1->setText(DisplayText(text));
  setWindowTitle(QString::fromStdString(title));
  exec();
}

void TMessageForm::Button1Click() {
  done(QDialog::Accepted);
}

void TMessageForm::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Button1Click();
      break;
    case Qt::Key_Escape:
      done(QDialog::Rejected);
      break;
    default:
      event->ignore();  // other keys are ignored
      return;
  }
  event->accept();
}

void TMessageForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  setFocus(Qt::ActiveWindowFocusReason);
}

void ShowMessageForm(const std::string& text, const std::string& title) {
  if (MessageForm != nullptr) MessageForm->ShowMessageForm(text, title);
}
