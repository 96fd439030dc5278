#include "win32_form.h"

#include <windowsx.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

Win32Form* FormOf(HWND window) {
  const HWND root = window != nullptr ? GetAncestor(window, GA_ROOT) : nullptr;
  return root != nullptr ? reinterpret_cast<Win32Form*>(GetWindowLongPtrA(root, GWLP_USERDATA))
                         : nullptr;
}

bool Contains(const TRect& r, TPoint p) {
  return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}

TPoint Local(const Win32Control& control, TPoint p) {
  return TPoint{p.X - control.Bounds().Left, p.Y - control.Bounds().Top};
}

}  // namespace

HFONT CreateFormFont(const FontSpec& spec) {
  return CreateFontA(-spec.pixels, 0, 0, 0, spec.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, spec.family);
}

// --- Win32Gradient ----------------------------------------------------------------------------

Win32Gradient::Win32Gradient(const TRect& bounds) {
  bounds_ = bounds;
}

void Win32Gradient::Paint(GdiCanvas& canvas) {
  const TSize size{bounds_.Width(), bounds_.Height()};
  if (size.Width <= 0 || size.Height <= 0) return;
  if (!bitmap_ || !(bitmap_->Size() == size)) {
    bitmap_ = std::make_unique<GdiCanvas>(size, clBtnFace, nullptr);
    DrawGradient(*bitmap_, TRect{0, 0, size.Width, size.Height}, gradient_);
  }
  canvas.Draw(TPoint{bounds_.Left, bounds_.Top}, *bitmap_, TRect{0, 0, size.Width, size.Height});
}

// --- Win32Label -------------------------------------------------------------------------------

Win32Label::Win32Label(const TRect& bounds, std::string text, HFONT font, LabelAlign align)
    : text_(std::move(text)), font_(font), align_(align) {
  bounds_ = bounds;
}

void Win32Label::Paint(GdiCanvas& canvas) {
  if (text_.empty()) return;
  const std::string ansi = AnsiText(text_);
  const HDC dc = canvas.Dc();
  const HGDIOBJ old_font = SelectObject(dc, font_);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, static_cast<COLORREF>(enabled_ ? kFormText : 0x808080));
  RECT r{bounds_.Left, bounds_.Top, bounds_.Right, bounds_.Bottom};
  UINT format = DT_NOPREFIX | DT_NOCLIP;
  switch (align_) {
    case LabelAlign::kLeft:
      format |= DT_LEFT | DT_SINGLELINE;
      break;
    case LabelAlign::kCentre:
      format |= DT_CENTER | DT_SINGLELINE;
      break;
    case LabelAlign::kRightGrowingLeft:
      format |= DT_RIGHT | DT_SINGLELINE;
      r.left = r.right - 1000;
      break;
    case LabelAlign::kCentreWrapped:
      PaintWrapped(dc, ansi, r);
      SelectObject(dc, old_font);
      return;
  }
  DrawTextA(dc, ansi.c_str(), static_cast<int>(ansi.size()), &r, format);
  SelectObject(dc, old_font);
}

namespace {

int TextWidth(HDC dc, const std::string& text) {
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

// The advance of each character of `text` as measured: drawn with them, the text takes exactly
// the width it was measured to take (Wine draws some fonts wider than it measures them).
std::vector<INT> Advances(HDC dc, const std::string& text) {
  std::vector<INT> ends(text.size());
  std::vector<INT> advances(text.size());
  SIZE size{};
  if (text.empty() || !GetTextExtentExPointA(dc, text.c_str(), static_cast<int>(text.size()), 0,
                                             nullptr, ends.data(), &size))
    return advances;
  for (std::size_t i = 0; i < text.size(); ++i) advances[i] = ends[i] - (i == 0 ? 0 : ends[i - 1]);
  return advances;
}

}  // namespace

// Broken at its line ends and between words so that each line fits the box, measured in the
// same device context and font it is drawn with, and each line centred on its measured width:
// no line is laid out narrower than it is drawn. A word wider than the box stands alone on its
// line, cut at the box.
void Win32Label::PaintWrapped(HDC dc, const std::string& text, const RECT& box) {
  const int width = box.right - box.left;
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string paragraph = text.substr(start, end - start);
    if (!paragraph.empty() && paragraph.back() == '\r') paragraph.pop_back();
    std::string line;
    std::size_t word = 0;
    while (word <= paragraph.size()) {
      std::size_t space = paragraph.find(' ', word);
      if (space == std::string::npos) space = paragraph.size();
      const std::string next = paragraph.substr(word, space - word);
      const std::string candidate = line.empty() ? next : line + " " + next;
      if (line.empty() || TextWidth(dc, candidate) <= width) {
        line = candidate;
      } else {
        lines.push_back(line);
        line = next;
      }
      word = space + 1;
    }
    lines.push_back(line);
    start = end + 1;
  }
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  int top = box.top;
  for (const std::string& line : lines) {
    const int left = box.left + (width - TextWidth(dc, line)) / 2;
    const std::vector<INT> advances = Advances(dc, line);
    ExtTextOutA(dc, std::max<int>(left, box.left), top, ETO_CLIPPED, &box, line.c_str(),
                static_cast<UINT>(line.size()), advances.empty() ? nullptr : advances.data());
    top += metrics.tmHeight;
  }
}

// --- Win32ColorButton -------------------------------------------------------------------------

Win32ColorButton::Win32ColorButton(const TRect& bounds, ColorButtonLook look, HFONT font)
    : look_(std::move(look)), font_(font) {
  bounds_ = bounds;
}

void Win32ColorButton::SetEnabled(bool enabled) {
  enabled_ = enabled;
  behaviour_.SetEnabled(enabled);
}

bool Win32ColorButton::Inside(TPoint p) const {
  return ButtonBehaviour::Inside(TSize{bounds_.Width(), bounds_.Height()}, p);
}

void Win32ColorButton::Paint(GdiCanvas& canvas) {
  // The button paints in its own coordinates, on the form's picture: the corners outside the
  // ellipse keep what lies behind.
  const HDC dc = canvas.Dc();
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, bounds_.Left, bounds_.Top, bounds_.Right, bounds_.Bottom);
  SetViewportOrgEx(dc, bounds_.Left, bounds_.Top, nullptr);
  {
    GdiCanvas button(dc, TSize{bounds_.Width(), bounds_.Height()});
    button.SetFont(font_);
    PaintColorButton(button, TSize{bounds_.Width(), bounds_.Height()}, look_, behaviour_.State(),
                     behaviour_.MouseInControl(), enabled_);
  }
  RestoreDC(dc, saved);
}

bool Win32ColorButton::MouseDown(TPoint) {
  return behaviour_.Press(enabled_);
}

bool Win32ColorButton::MouseMove(TPoint p) {
  return behaviour_.Track(Inside(p));
}

bool Win32ColorButton::MouseUp(TPoint p) {
  const ButtonRelease release = behaviour_.Release(Inside(p));
  if (release.click && OnClick) OnClick();
  return release.handled;
}

bool Win32ColorButton::MouseEnter() {
  return behaviour_.Enter(look_.options & boShowMouseFocus, enabled_);
}

bool Win32ColorButton::MouseLeave() {
  return behaviour_.Leave();
}

// --- Win32Gauge -------------------------------------------------------------------------------

Win32Gauge::Win32Gauge(const TRect& bounds, const GaugeLook& look, HFONT font)
    : look_(look), font_(font) {
  bounds_ = bounds;
}

void Win32Gauge::Paint(GdiCanvas& canvas) {
  const TSize size{bounds_.Width(), bounds_.Height()};
  if (size.Width <= 0 || size.Height <= 0) return;
  GdiCanvas picture(size, clBlack, font_);
  PaintGauge(picture, look_, range_.PercentDone());
  canvas.Draw(TPoint{bounds_.Left, bounds_.Top}, picture, TRect{0, 0, size.Width, size.Height});
}

// --- Win32Form --------------------------------------------------------------------------------

Win32Form::Win32Form(const char* class_name, const std::string& caption, TSize client, DWORD style,
                     DWORD ex_style, HWND owner)
    : client_(client) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  background_ = CreateSolidBrush(static_cast<COLORREF>(kFormBackground));
  WNDCLASSEXA window_class{};
  if (!GetClassInfoExA(instance, class_name, &window_class)) {
    window_class.cbSize = sizeof(window_class);
    window_class.style = CS_DBLCLKS;
    window_class.lpfnWndProc = &Win32Form::WindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
    window_class.hbrBackground = nullptr;
    window_class.lpszClassName = class_name;
    RegisterClassExA(&window_class);
  }
  RECT frame{0, 0, client.Width, client.Height};
  AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  window_ = CreateWindowExA(ex_style, class_name, AnsiText(caption).c_str(), style, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                            owner, nullptr, instance, this);
}

Win32Form::~Win32Form() {
  if (window_ != nullptr) {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  DeleteObject(background_);
}

void Win32Form::SetCaption(const std::string& caption) {
  SetWindowTextA(window_, AnsiText(caption).c_str());
}

void Win32Form::RepaintNow(const Win32Control* control) {
  if (control != nullptr) {
    const TRect b = control->Bounds();
    const RECT r{b.Left, b.Top, b.Right, b.Bottom};
    InvalidateRect(window_, &r, FALSE);
  } else {
    InvalidateRect(window_, nullptr, FALSE);
  }
  UpdateWindow(window_);
}

bool Win32Form::ShowModal(HWND owner) {
  modal_ = true;
  modal_result_ = false;
  const bool owner_enabled = owner != nullptr && IsWindowEnabled(owner);
  if (owner_enabled) EnableWindow(owner, FALSE);
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  MSG message;
  while (modal_) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      // The program is ending: keep the request for the outer loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (got < 0) break;
    DispatchOne(message);
  }
  modal_ = false;
  if (owner_enabled) EnableWindow(owner, TRUE);
  ShowWindow(window_, SW_HIDE);
  if (owner != nullptr) SetForegroundWindow(owner);
  return modal_result_;
}

void Win32Form::EndModal(bool result) {
  modal_result_ = result;
  modal_ = false;
}

void Win32Form::CloseBox() {
  if (modal_) EndModal(false);
}

bool Win32Form::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) {
  return false;
}

void Win32Form::Paint() {
  PAINTSTRUCT ps;
  const HDC dc = BeginPaint(window_, &ps);
  // Painted whole on a picture first, then copied: no flicker, and one picture per paint.
  GdiCanvas picture(client_, kFormBackground, nullptr);
  for (const auto& control : controls_) {
    if (control->Visible()) control->Paint(picture);
  }
  BitBlt(dc, 0, 0, client_.Width, client_.Height, picture.Dc(), 0, 0, SRCCOPY);
  EndPaint(window_, &ps);
}

Win32Control* Win32Form::ControlAt(TPoint p) {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    Win32Control& control = **it;
    if (!control.Visible() || !Contains(control.Bounds(), p)) continue;
    if (dynamic_cast<Win32ColorButton*>(&control) != nullptr) return &control;
  }
  return nullptr;
}

void Win32Form::Mouse(UINT message, TPoint p) {
  Win32Control* under = ControlAt(p);
  if (message == WM_MOUSEMOVE && under != hovered_) {
    if (hovered_ != nullptr && hovered_->MouseLeave()) RepaintNow(hovered_);
    hovered_ = under;
    if (hovered_ != nullptr && hovered_->MouseEnter()) RepaintNow(hovered_);
    TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, window_, 0};
    TrackMouseEvent(&track);
  }
  Win32Control* target = captured_ != nullptr ? captured_ : under;
  if (target == nullptr) return;
  const TPoint local = Local(*target, p);
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (target->MouseDown(local)) {
        captured_ = target;
        SetCapture(window_);
        RepaintNow(target);
      }
      break;
    case WM_MOUSEMOVE:
      if (target->MouseMove(local)) RepaintNow(target);
      break;
    case WM_LBUTTONUP: {
      captured_ = nullptr;
      if (GetCapture() == window_) ReleaseCapture();
      // The click may close the form; repaint first.
      const bool repaint = target->MouseUp(local);
      if (repaint && IsWindow(window_)) RepaintNow(target);
      break;
    }
    default:
      break;
  }
}

LRESULT CALLBACK Win32Form::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(l);
    auto* form = static_cast<Win32Form*>(create->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<Win32Form*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcA(window, message, w, l);
  return form->Dispatch(message, w, l);
}

LRESULT Win32Form::Dispatch(UINT message, WPARAM w, LPARAM l) {
  LRESULT result = 0;
  if (HandleMessage(message, w, l, result)) return result;
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX: {
      // Every control in the form's colours, the address box and its list too: gold on navy
      // (a disabled edit draws its text grey itself).
      const HDC dc = reinterpret_cast<HDC>(w);
      SetTextColor(dc, static_cast<COLORREF>(kFormText));
      SetBkColor(dc, static_cast<COLORREF>(kFormBackground));
      return reinterpret_cast<LRESULT>(background_);
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
      Mouse(message, TPoint{GET_X_LPARAM(l), GET_Y_LPARAM(l)});
      return 0;
    case WM_MOUSELEAVE:
      if (hovered_ != nullptr && hovered_->MouseLeave()) RepaintNow(hovered_);
      hovered_ = nullptr;
      return 0;
    case WM_CLOSE:
      CloseBox();
      return 0;
    default:
      return DefWindowProcA(window_, message, w, l);
  }
}

void DispatchOne(MSG& message) {
  if (message.message == WM_CHAR) {
    Win32Form* form = FormOf(message.hwnd);
    if (form != nullptr && IsWindowEnabled(form->Handle()) &&
        form->FormKeyPress(static_cast<int>(message.wParam))) {
      return;
    }
  }
  // Tab, Enter and Escape in a form with native controls (the options dialog).
  Win32Form* form = FormOf(message.hwnd);
  if (form != nullptr && message.hwnd != form->Handle() &&
      (GetWindowLongA(form->Handle(), GWL_EXSTYLE) & WS_EX_CONTROLPARENT) != 0 &&
      IsDialogMessageA(form->Handle(), &message)) {
    return;
  }
  TranslateMessage(&message);
  DispatchMessageA(&message);
}
