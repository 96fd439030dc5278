// The window machinery of the Win32 front end: a top-level form that paints its windowless
// controls (gradient, labels, colour buttons, gauge) in their order on an off-screen bitmap,
// hands them the mouse, and shows itself modally with a message loop of its own.
//
//   class TMyForm : public Win32Form { ... };
//   auto* button = form.Add(std::make_unique<Win32ColorButton>(place, FormButtonLook("OK"), font));
//   button->OnClick = [&] { form.EndModal(true); };
//   bool ok = form.ShowModal(owner);
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "button_behaviour.h"
#include "button_paint.h"
#include "form_layout.h"
#include "gauge_paint.h"
#include "gdi_canvas.h"
#include "gradient_paint.h"

// A font of the windows as GDI makes it (no smoothing: plain pixels).
HFONT CreateFormFont(const FontSpec& spec);

// A control without a window of its own, painted by its form.
class Win32Control {
 public:
  virtual ~Win32Control() = default;
  TRect Bounds() const { return bounds_; }
  void SetBounds(const TRect& bounds) { bounds_ = bounds; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  // Paints on `canvas`, whose origin is the form's client area.
  virtual void Paint(GdiCanvas& canvas) = 0;
  // Mouse messages in the control's own coordinates; true when the control needs repainting.
  virtual bool MouseDown(TPoint) { return false; }
  virtual bool MouseMove(TPoint) { return false; }
  virtual bool MouseUp(TPoint) { return false; }
  virtual bool MouseEnter() { return false; }
  virtual bool MouseLeave() { return false; }

 protected:
  TRect bounds_;
  bool visible_ = true;
};

// The banded background, kept as an off-screen picture that is rebuilt when its size changes.
class Win32Gradient final : public Win32Control {
 public:
  explicit Win32Gradient(const TRect& bounds);
  TGradient& Gradient() { return gradient_; }
  void Paint(GdiCanvas& canvas) override;

 private:
  TGradient gradient_;
  std::unique_ptr<GdiCanvas> bitmap_;
};

// A transparent label.
enum class LabelAlign { kLeft, kCentre, kRightGrowingLeft, kCentreWrapped };
class Win32Label final : public Win32Control {
 public:
  // For kLeft and kRightGrowingLeft `bounds` gives the anchor (left or right edge, top);
  // the others draw inside it.
  Win32Label(const TRect& bounds, std::string text, HFONT font, LabelAlign align);
  void SetText(std::string text) { text_ = std::move(text); }
  const std::string& Text() const { return text_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  void Paint(GdiCanvas& canvas) override;

 private:
  static void PaintWrapped(HDC dc, const std::string& text, const RECT& box);

  std::string text_;
  HFONT font_;
  LabelAlign align_;
  bool enabled_ = true;
};

// The colour button: face, lighting under the mouse, pressed look while held, click on release.
class Win32ColorButton final : public Win32Control {
 public:
  Win32ColorButton(const TRect& bounds, ColorButtonLook look, HFONT font);
  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }
  ButtonState State() const { return behaviour_.State(); }
  void Paint(GdiCanvas& canvas) override;
  bool MouseDown(TPoint p) override;
  bool MouseMove(TPoint p) override;
  bool MouseUp(TPoint p) override;
  bool MouseEnter() override;
  bool MouseLeave() override;
  std::function<void()> OnClick;

 private:
  bool Inside(TPoint p) const;

  ColorButtonLook look_;
  HFONT font_;
  bool enabled_ = true;
  ButtonBehaviour behaviour_;
};

// The progress gauge.
class Win32Gauge final : public Win32Control {
 public:
  Win32Gauge(const TRect& bounds, const GaugeLook& look, HFONT font);
  // True when the shown percentage changed (the form then repaints the gauge).
  bool SetProgress(int value) { return range_.SetProgress(value); }
  int PercentDone() const { return range_.PercentDone(); }
  void Paint(GdiCanvas& canvas) override;

 private:
  GaugeLook look_;
  GaugeRange range_;
  HFONT font_;
};

class Win32Form {
 public:
  virtual ~Win32Form();
  Win32Form(const Win32Form&) = delete;
  Win32Form& operator=(const Win32Form&) = delete;

  HWND Handle() const { return window_; }
  template <typename T>
  T* Add(std::unique_ptr<T> control) {
    T* raw = control.get();
    controls_.push_back(std::move(control));
    return raw;
  }
  // Repaints a control (or the whole client area) at once.
  void RepaintNow(const Win32Control* control = nullptr);
  void SetCaption(const std::string& caption);

  // Shows the form modally over `owner` (disabled meanwhile) until EndModal; returns its result.
  bool ShowModal(HWND owner);
  void EndModal(bool result);
  bool InModal() const { return modal_; }

  // FormKeyPress: a character typed in the form, seen before the focused control; true when
  // taken.
  virtual bool FormKeyPress(int) { return false; }

 protected:
  // Creates the window of class `class_name` with a client area of `client`.
  Win32Form(const char* class_name, const std::string& caption, TSize client, DWORD style,
            DWORD ex_style, HWND owner);
  // Messages the form handles itself before the common handling; true when handled.
  virtual bool HandleMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result);
  // The close box; the default ends a modal showing.
  virtual void CloseBox();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT Dispatch(UINT message, WPARAM w, LPARAM l);
  void Paint();
  Win32Control* ControlAt(TPoint p);
  void Mouse(UINT message, TPoint p);

  HWND window_ = nullptr;
  TSize client_;
  std::vector<std::unique_ptr<Win32Control>> controls_;
  Win32Control* captured_ = nullptr;
  Win32Control* hovered_ = nullptr;
  bool modal_ = false;
  bool modal_result_ = false;
  HBRUSH background_ = nullptr;
};

// Runs one message through the form's key handling and the window (for modal loops and the
// pumping of the update).
void DispatchOne(MSG& message);
