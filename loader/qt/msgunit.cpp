#include "msgunit.h"

#include <QKeyEvent>
#include <QLabel>

#include "ColorBtns.h"
#include "Gradient.h"
#include "form_look.h"
#include "message_form.h"
#include "qt_host.h"

TMessageForm* MessageForm = nullptr;

namespace {
using namespace message_form;

QRect Place(const ControlPlace& p) {
  return QRect(p.left, p.top, p.width, p.height);
}
}  // namespace

TMessageForm::TMessageForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName("MessageForm");
  setWindowTitle(kLayoutCaption);
  ApplyFormLook(*this);
  setFixedSize(kClientSize.Width, kClientSize.Height);
  move(kScreenPosition.X, kScreenPosition.Y);
  setModal(true);
  setFocusPolicy(Qt::StrongFocus);

  DfGradient1 = new TDfGradient(this);
  DfGradient1->setObjectName("DfGradient1");
  ApplyGradientLook(*DfGradient1);
  DfGradient1->SetAlign(alClient);

  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Label1->setGeometry(Place(kLabel1));
  Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label1->setWordWrap(true);
  Label1->setTextFormat(Qt::PlainText);

  Button1 = new TColor95Button(this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(Place(message_form::kButton1));
  ApplyButtonLook(*Button1, kButton1Caption, kDefaultFormFont);
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
  const int key = event->key();
  const int character = key == Qt::Key_Space                            ? ' '
                        : key == Qt::Key_Return || key == Qt::Key_Enter ? '\r'
                        : key == Qt::Key_Escape                         ? 27
                                                                        : 0;
  if (!MessageKeyCloses(character)) {
    event->ignore();  // other keys are ignored
    return;
  }
  // Escape closes as the close box does; Space and Enter as "OK".
  if (character == 27) {
    done(QDialog::Rejected);
  } else {
    Button1Click();
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
