#include "Main.h"

#include "Options.h"
#include "Update.h"
#include "msgunit.h"
#include "settings.h"

using namespace main_form;

namespace {

constexpr UINT_PTR kTimer1Id = 1;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;

TRect At(TPoint p) {
  return TRect{p.X, p.Y, p.X + 1000, p.Y + 100};
}

}  // namespace

TMainLoaderForm::TMainLoaderForm(ModuleLink& link, platform::Host& application,
                                 platform::PrivateProfile& profile, const UpdateImage& image,
                                 HWND owner)
    : Win32Form("TMainLoaderForm", MainWindowCaption(MakerNotice), kClientSize, kStyle, 0, owner),
      link_(link),
      application_(application),
      profile_(profile),
      image_(image),
      default_font_(CreateFormFont(kDefaultFormFont)),
      title_font_(CreateFormFont(kLabel5Font)),
      web_font_(CreateFormFont(kLabel3Font)),
      start_font_(CreateFormFont(kButton1Font)),
      label2_font_(CreateFormFont(kLabel2Font)) {
  DfGradient1 = Add(std::make_unique<Win32Gradient>(kDfGradient1.Rect()));
  ApplyFormGradientLook(DfGradient1->Gradient());
  Label5 = Add(
      std::make_unique<Win32Label>(kLabel5.Rect(), kLayoutTitle, title_font_, LabelAlign::kCentre));
  Label3 = Add(std::make_unique<Win32Label>(At(kLabel3), "", web_font_, LabelAlign::kLeft));
  Label7 =
      Add(std::make_unique<Win32Label>(At(TPoint{0, 0}), "", default_font_, LabelAlign::kLeft));
  Label7->SetVisible(false);
  Color95Button1 = Add(std::make_unique<Win32ColorButton>(
      kColor95Button1.Rect(), FormButtonLook(kOptionsCaption), default_font_));
  Color95Button1->OnClick = [this] { Color95Button1Click(); };
  Button1 = Add(std::make_unique<Win32ColorButton>(kButton1.Rect(), FormButtonLook(kStartCaption),
                                                   start_font_));
  Button1->OnClick = [this] { Button1Click(); };
  Color95Button2 = Add(std::make_unique<Win32ColorButton>(
      kColor95Button2.Rect(), FormButtonLook(kExitCaption), default_font_));
  Color95Button2->OnClick = [this] { Color95Button2Click(); };
  Label6 = Add(std::make_unique<Win32Label>(
      TRect{kLabel6Right - 1000, kLabel6Top, kLabel6Right, kLabel6Top + 100}, "", default_font_,
      LabelAlign::kRightGrowingLeft));
  Label2 = Add(std::make_unique<Win32Label>(At(kLabel2), "", label2_font_, LabelAlign::kLeft));
  Fortschritt = Add(std::make_unique<Win32Label>(At(kFortschritt), kProgressCaption, default_font_,
                                                 LabelAlign::kLeft));
  ProgressBar1 =
      Add(std::make_unique<Win32Gauge>(kProgressBar1.Rect(), kProgressBar1Look, default_font_));
  SetTimer(Handle(), kTimer1Id, kTimer1IntervalMs, nullptr);
  FormCreate();
}

TMainLoaderForm::~TMainLoaderForm() {
  KillTimer(Handle(), kTimer1Id);
  for (HFONT font : {default_font_, title_font_, web_font_, start_font_, label2_font_}) {
    DeleteObject(font);
  }
}

void TMainLoaderForm::SetDialogs(TOptForm* options, TMessageForm* messages) {
  options_ = options;
  messages_ = messages;
}

void TMainLoaderForm::FormCreate() {
  link_.IOBase = 800;
  const MainWindowTexts texts = MainTexts();
  Label5->SetText(texts.title);
  Label7->SetText(texts.corner);
  Label7->SetVisible(texts.cornerVisible);
  Label3->SetText(texts.webLine);
}

void TMainLoaderForm::FormShow() {
  RECT frame;
  GetWindowRect(Handle(), &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const WindowPosition centred{work.left + (work.right - work.left - width) / 2,
                               work.top + (work.bottom - work.top - height) / 2};
  const WindowPosition stored = LoadWindowPosition(profile_, centred);
  LoadLinkSettings(link_, profile_);
  const WindowPosition at = ChooseMainWindowPosition(stored, centred, width, [](TPoint grip) {
    return MonitorFromPoint(POINT{grip.X, grip.Y}, MONITOR_DEFAULTTONULL) != nullptr;
  });
  SetWindowPos(Handle(), nullptr, at.left, at.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(Handle(), SW_SHOW);
  SetForegroundWindow(Handle());
  SetFocus(Handle());
}

void TMainLoaderForm::FormClose() {
  RECT frame;
  GetWindowRect(Handle(), &frame);
  MainFormClose(profile_, {frame.left, frame.top}, link_);
}

void TMainLoaderForm::Button1Click() {
  update_.Run(link_, *this, application_, image_);
}

void TMainLoaderForm::Color95Button1Click() {
  if (update_.Running() || options_ == nullptr) return;
  options_->Edit(link_, Handle());
}

void TMainLoaderForm::Color95Button2Click() {
  PostMessageA(Handle(), WM_CLOSE, 0, 0);
}

void TMainLoaderForm::Timer1Timer() {
  link_.TimeoutTick();
}

bool TMainLoaderForm::FormKeyPress(int character) {
  if (character != ' ' && character != '\r') return false;
  if (MainKeyStartsUpdate(character, Button1->Enabled(), update_.Running())) Button1Click();
  return true;
}

void TMainLoaderForm::CloseBox() {
  // An update in progress is never cut off: the module could be left half programmed.
  if (update_.Running()) return;
  if (!closed_) {
    closed_ = true;
    FormClose();
  }
  ShowWindow(Handle(), SW_HIDE);
  PostQuitMessage(0);
}

bool TMainLoaderForm::HandleMessage(UINT message, WPARAM w, LPARAM, LRESULT& result) {
  if (message == WM_TIMER && w == kTimer1Id) {
    Timer1Timer();
    result = 0;
    return true;
  }
  // The status line and the progress for programs that drive the window (the tests under
  // Wine): a global atom "<status line>|<percent>" that the asking program deletes.
  static const UINT status_query = RegisterWindowMessageA("Morvane.StatusLine");
  if (message == status_query) {
    const std::string status = Label6->Text() + "|" + std::to_string(ProgressBar1->PercentDone());
    result = GlobalAddAtomA(AnsiText(status).c_str());
    return true;
  }
  if (message == WM_CHAR) {
    FormKeyPress(static_cast<int>(w));
    result = 0;
    return true;
  }
  return false;
}

void TMainLoaderForm::SetStatusLine(const std::string& text) {
  Label6->SetText(text);
  RepaintNow();
}

void TMainLoaderForm::SetGauge(int percent) {
  if (ProgressBar1->SetProgress(percent)) RepaintNow(ProgressBar1);
}

void TMainLoaderForm::SetButtonsEnabled(bool enabled) {
  Button1->SetEnabled(enabled);
  Color95Button1->SetEnabled(enabled);
  Color95Button2->SetEnabled(enabled);
  RepaintNow();
}

void TMainLoaderForm::ClearLabel2() {
  Label2->SetText("");
  RepaintNow();
}

void TMainLoaderForm::ShowMessageForm(const std::string& text, const std::string& title) {
  if (messages_ != nullptr) messages_->ShowMessageForm(text, title, Handle());
}
