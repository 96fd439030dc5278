#include "Options.h"

using namespace options_form;

namespace {

bool Ticked(HWND box) {
  return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Tick(HWND box, bool ticked) {
  SendMessageA(box, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
}

}  // namespace

TOptForm::TOptForm(platform::Host& system)
    : Win32Form("TOptForm", kCaption, kClientSize, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, nullptr),
      system_(system),
      font_(CreateFormFont(kDefaultFormFont)) {
  DfGradient1 =
      Add(std::make_unique<Win32Gradient>(TRect{0, 0, kClientSize.Width, kClientSize.Height}));
  ApplyFormGradientLook(DfGradient1->Gradient());
  Button1 = Add(std::make_unique<Win32ColorButton>(options_form::kButton1.Rect(),
                                                   FormButtonLook(kButton1Caption), font_));
  Button1->OnClick = [this] { Button1Click(); };

  const HINSTANCE instance = GetModuleHandleA(nullptr);
  auto child = [&](const char* window_class, const char* text, DWORD style,
                   const ControlPlace& place, int id, bool in_panel) {
    const int left = place.left + (in_panel ? kPanel1.left : 0);
    const int top = place.top + (in_panel ? kPanel1.top : 0);
    const HWND control = CreateWindowExA(
        0, window_class, AnsiText(text).c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style,
        left, top, place.width, place.height, Handle(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return control;
  };
  Panel1 = child("STATIC", "", SS_LEFT, kPanel1, 0, false);
  // The captions stand left of their boxes, as the dialog lays them out.
  const DWORD box = BS_AUTOCHECKBOX | BS_LEFTTEXT | BS_NOTIFY | WS_TABSTOP;
  CheckBox1 = child("BUTTON", kCheckBox1Caption, box, kCheckBox1, kCheckBox1Id, true);
  ComboBox1 = child("COMBOBOX", "", CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP,
                    ControlPlace{kComboBox1.left, kComboBox1.top, kComboBox1.width, 120},
                    kComboBox1Id, true);
  for (const char* address : kAddresses) {
    SendMessageA(ComboBox1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(address));
  }
  CheckBox3 = child("BUTTON", kCheckBox3Caption, box, kCheckBox3, kCheckBox3Id, true);
  CheckBox2 = child("BUTTON", kCheckBox2Caption, box, kCheckBox2, kCheckBox2Id, true);
  Label1 = child("STATIC", kLabel1Caption, SS_LEFT, kLabel1, kLabel1Id, true);
  // Panel1 lies under its controls.
  SetWindowPos(Panel1, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

TOptForm::~TOptForm() {
  DeleteObject(font_);
}

OptionsValues TOptForm::Values() const {
  char text[64] = {};
  GetWindowTextA(ComboBox1, text, sizeof(text));
  return OptionsValues{Ticked(CheckBox1), Ticked(CheckBox2), Ticked(CheckBox3), text};
}

void TOptForm::LoadFrom(const ModuleLink& link) {
  const OptionsValues values = OptionsValuesOf(link);
  Tick(CheckBox1, values.checkBox1);
  Tick(CheckBox2, values.checkBox2);
  Tick(CheckBox3, values.checkBox3);
  SetWindowTextA(ComboBox1, values.comboBox1.c_str());
}

void TOptForm::StoreInto(ModuleLink& link) const {
  StoreOptionsValues(Values(), link);
}

bool TOptForm::Edit(ModuleLink& link, HWND owner) {
  LoadFrom(link);
  // Centred on the screen, the rules applied as the dialog shows.
  RECT frame;
  GetWindowRect(Handle(), &frame);
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(Handle(), nullptr,
               work.left + (work.right - work.left - (frame.right - frame.left)) / 2,
               work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  CheckBox1Rule();
  CheckBox3Rule();
  // Each opening starts at the first control that can take the focus (the dialog's activation
  // puts it there).
  lastFocus_ = nullptr;
  FocusFirstEnabled(nullptr);
  if (!ShowModal(owner)) return false;
  StoreInto(link);
  return true;
}

void TOptForm::CheckBox1Rule() {
  EnableWindow(ComboBox1, ComboBox1EnabledByCheckBox1(Ticked(CheckBox1)));
}

void TOptForm::CheckBox3Rule() {
  const CheckBox3Enabling enabling = ::CheckBox3Rule(Ticked(CheckBox3), Ticked(CheckBox1));
  EnableWindow(CheckBox1, enabling.checkBox1);
  EnableWindow(Label1, enabling.label1);
  EnableWindow(ComboBox1, enabling.comboBox1);
}

void TOptForm::Button1Click() {
  const OptionsValues values = Values();
  if (AddressNeedsWarning(values.checkBox1, values.comboBox1)) {
    system_.ShowSystemMessage(kAddressWarning, kWarningTitle, true);
  }
  EndModal(true);
}

bool TOptForm::FormKeyPress(int character) {
  if (!InModal()) return false;
  switch (OptionsDialogKey(character)) {
    case DialogKey::kOk:
      Button1Click();
      return true;
    case DialogKey::kCancel:
      EndModal(false);
      return true;
    case DialogKey::kNone:
      break;
  }
  return false;
}

void TOptForm::FocusFirstEnabled(HWND preferred) {
  if (preferred != nullptr && IsWindowEnabled(preferred)) {
    SetFocus(preferred);
    return;
  }
  for (HWND control : {CheckBox1, ComboBox1, CheckBox3, CheckBox2}) {
    if (IsWindowEnabled(control)) {
      SetFocus(control);
      return;
    }
  }
}

bool TOptForm::HandleMessage(UINT message, WPARAM w, LPARAM, LRESULT& result) {
  if (message == WM_ACTIVATE) {
    // The window's own activation would take the focus from its controls.
    if (LOWORD(w) == WA_INACTIVE) {
      const HWND focus = GetFocus();
      if (focus != nullptr && IsChild(Handle(), focus)) lastFocus_ = focus;
      return false;
    }
    FocusFirstEnabled(lastFocus_);
    result = 0;
    return true;
  }
  if (message != WM_COMMAND) return false;
  const int id = LOWORD(w);
  const int code = HIWORD(w);
  result = 0;
  if (id == IDOK || id == IDCANCEL) {
    // Enter and Escape as the dialog navigation reports them.
    return FormKeyPress(id == IDOK ? '\r' : 27);
  }
  if (code != BN_CLICKED && code != BN_SETFOCUS) return false;
  if (id == kCheckBox1Id || id == kCheckBox2Id) CheckBox1Rule();
  if (id == kCheckBox3Id) CheckBox3Rule();
  return true;
}
