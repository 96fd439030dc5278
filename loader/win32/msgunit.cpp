#include "msgunit.h"

#include "message_form.h"

using namespace message_form;

TMessageForm::TMessageForm()
    : Win32Form("TMessageForm", kLayoutCaption, kClientSize, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                WS_EX_DLGMODALFRAME, nullptr),
      font_(CreateFormFont(kDefaultFormFont)) {
  SetWindowPos(Handle(), nullptr, kScreenPosition.X, kScreenPosition.Y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  DfGradient1 =
      Add(std::make_unique<Win32Gradient>(TRect{0, 0, kClientSize.Width, kClientSize.Height}));
  ApplyFormGradientLook(DfGradient1->Gradient());
  Label1 = Add(std::make_unique<Win32Label>(kLabel1.Rect(), "", font_, LabelAlign::kCentreWrapped));
  Button1 = Add(std::make_unique<Win32ColorButton>(message_form::kButton1.Rect(),
                                                   FormButtonLook(kButton1Caption), font_));
  Button1->OnClick = [this] { Button1Click(); };
}

TMessageForm::~TMessageForm() {
  DeleteObject(font_);
}

void TMessageForm::ShowMessageForm(const std::string& text, const std::string& title, HWND owner) {
  Label1->SetText(text);
  SetCaption(title);
  RepaintNow();
  ShowModal(owner);
}

void TMessageForm::Button1Click() {
  EndModal(true);
}

bool TMessageForm::FormKeyPress(int character) {
  if (!InModal() || !MessageKeyCloses(character)) return false;
  EndModal(character != 27);
  return true;
}
