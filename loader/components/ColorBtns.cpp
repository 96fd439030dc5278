#include "ColorBtns.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcutEvent>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {

// First delay and then the period of the repeat clicks of a held boRepeatable button.
constexpr int kRepeatDelayMs = 500;
constexpr int kRepeatPeriodMs = 100;

std::function<void(const QString&)>& SoundPlayer() {
  static std::function<void(const QString&)> player;
  return player;
}

struct RepeatState {
  QPointer<QTimer> timer;
  QPointer<TColor95Button> button;
};

RepeatState& Repeat() {
  static RepeatState state;
  return state;
}

QTimer* RepeatTimer() {
  RepeatState& state = Repeat();
  if (state.timer.isNull()) {
    // Owned by the application object, so it goes away with it.
    state.timer = new QTimer(QCoreApplication::instance());
    QObject::connect(state.timer, &QTimer::timeout, [] { RepeatClicker::Tick(); });
  }
  return state.timer;
}

QFont TextFont(const QFont& font) {
  // Captions are drawn with plain pixels, as on the classic screens the faces imitate.
  QFont f = font;
  f.setStyleStrategy(QFont::NoAntialias);
  return f;
}

// A one-pixel frame just inside r: top and left in `top_left`, bottom and right in
// `bottom_right` (which also takes the top-right and bottom-left corner pixels). Returns r
// shrunk by one pixel.
TRect Frame3D(QPainter& canvas, const TRect& r, TColor top_left, TColor bottom_right) {
  if (r.Width() <= 0 || r.Height() <= 0) return r;
  const QColor tl = ToQColor(top_left);
  const QColor br = ToQColor(bottom_right);
  gdi::FillRect(canvas, TRect{r.Left, r.Top, r.Right - 1, r.Top + 1}, tl);
  gdi::FillRect(canvas, TRect{r.Left, r.Top, r.Left + 1, r.Bottom - 1}, tl);
  gdi::FillRect(canvas, TRect{r.Right - 1, r.Top, r.Right, r.Bottom}, br);
  gdi::FillRect(canvas, TRect{r.Left, r.Bottom - 1, r.Right, r.Bottom}, br);
  return TRect{r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
}

TRect Shrink(const TRect& r, int n) {
  return TRect{r.Left + n, r.Top + n, r.Right - n, r.Bottom - n};
}

// The colour of a glyph picture's bottom-left pixel made transparent.
QImage WithTransparentColor(const QImage& picture) {
  QImage out = picture.convertToFormat(QImage::Format_ARGB32);
  if (out.isNull()) return out;
  const QRgb key = out.pixel(0, out.height() - 1) | 0xFF000000u;
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      if ((line[x] | 0xFF000000u) == key) line[x] = 0;
    }
  }
  return out;
}

// A disabled glyph: the picture's darker pixels embossed in the face's shades.
QImage EmbossedGlyph(const QImage& picture, TColor face) {
  const QImage source = WithTransparentColor(picture);
  QImage out(source.width() + 1, source.height() + 1, QImage::Format_ARGB32);
  out.fill(Qt::transparent);
  const QRgb light = ToQColor(Brighten(face, 96)).rgb();
  const QRgb dark = ToQColor(Darken(face, 96)).rgb();
  for (int pass = 0; pass < 2; ++pass) {
    const int offset = pass == 0 ? 1 : 0;
    for (int y = 0; y < source.height(); ++y) {
      for (int x = 0; x < source.width(); ++x) {
        const QRgb p = source.pixel(x, y);
        if (qAlpha(p) == 0 || qGray(p) >= 192) continue;
        out.setPixel(x + offset, y + offset, pass == 0 ? light : dark);
      }
    }
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Colour helpers and layout

TColor Brighten(TColor color, int n) {
  const TColor c = ColorToRGB(color);
  return MakeColor(RedOf(c) + n, GreenOf(c) + n, BlueOf(c) + n);
}

BevelColors BevelColorsFor(TColor face, bool pressed) {
  if (pressed) {
    return BevelColors{Darken(face, 48), Brighten(face, 48), Brighten(face, 64), Darken(face, 96)};
  }
  return BevelColors{Brighten(face, 60), Darken(face, 48), Darken(face, 100), Brighten(face, 12)};
}

QImage MakeDitherBitmap(TColor face) {
  QImage dither(8, 8, QImage::Format_RGB32);
  dither.fill(ToQColor(face));
  const QRgb light = ToQColor(Brighten(face, 128)).rgb();
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      if ((x % 2) == (y % 2)) dither.setPixel(x, y, light);
    }
  }
  return dither;
}

ButtonLayoutResult CalcButtonLayout(QSize client, QSize glyph_size, QSize text_size,
                                    TButtonLayout layout, int margin, int spacing) {
  const bool across = layout == blGlyphLeft || layout == blGlyphRight;
  QPoint glyph_pos;
  QPoint text_pos;
  if (across) {
    glyph_pos.setY((client.height() - glyph_size.height() + 1) / 2);
    text_pos.setY((client.height() - text_size.height() + 1) / 2);
  } else {
    glyph_pos.setX((client.width() - glyph_size.width() + 1) / 2);
    text_pos.setX((client.width() - text_size.width() + 1) / 2);
  }
  if (text_size.width() == 0 || glyph_size.width() == 0) spacing = 0;

  const int space = across ? client.width() : client.height();
  const int glyph_extent = across ? glyph_size.width() : glyph_size.height();
  const int text_extent = across ? text_size.width() : text_size.height();
  if (margin == -1) {
    if (spacing == -1) {
      margin = (space - (glyph_extent + text_extent)) / 3;
      spacing = margin;
    } else {
      margin = (space - (glyph_extent + spacing + text_extent) + 1) / 2;
    }
  } else if (spacing == -1) {
    spacing = (space - (margin + glyph_extent) - text_extent) / 2;
  }

  switch (layout) {
    case blGlyphLeft:
      glyph_pos.setX(margin);
      text_pos.setX(glyph_pos.x() + glyph_size.width() + spacing);
      break;
    case blGlyphRight:
      glyph_pos.setX(client.width() - margin - glyph_size.width());
      text_pos.setX(glyph_pos.x() - spacing - text_size.width());
      break;
    case blGlyphTop:
      glyph_pos.setY(margin);
      text_pos.setY(glyph_pos.y() + glyph_size.height() + spacing);
      break;
    case blGlyphBottom:
      glyph_pos.setY(client.height() - margin - glyph_size.height());
      text_pos.setY(glyph_pos.y() - spacing - text_size.height());
      break;
  }
  return ButtonLayoutResult{glyph_pos, QRect(text_pos, text_size)};
}

// ---------------------------------------------------------------------------------------------
// The shared repeat timer

void RepeatClicker::Start(TColor95Button* button) {
  QTimer* timer = RepeatTimer();
  Repeat().button = button;
  timer->setInterval(kRepeatDelayMs);
  timer->start();
}

void RepeatClicker::Stop() {
  RepeatState& state = Repeat();
  if (!state.timer.isNull()) state.timer->stop();
  state.button = nullptr;
}

void RepeatClicker::Tick() {
  RepeatState& state = Repeat();
  if (!state.timer.isNull()) state.timer->setInterval(kRepeatPeriodMs);
  TColor95Button* button = state.button;
  if (button == nullptr) {
    Stop();
    return;
  }
  if (button->state_ != ButtonState::Pressed || !button->tracking_) return;
  try {
    button->Click();
  } catch (...) {
    // A failing click handler ends the repetition rather than failing again every 100 ms.
    Stop();
  }
}

bool RepeatClicker::Active() {
  const RepeatState& state = Repeat();
  return !state.timer.isNull() && state.timer->isActive();
}

int RepeatClicker::Interval() {
  const RepeatState& state = Repeat();
  return state.timer.isNull() ? 0 : state.timer->interval();
}

// ---------------------------------------------------------------------------------------------
// TColor95Button

TColor95Button::TColor95Button(QWidget* parent) : QWidget(parent) {
  if (parent != nullptr) color_ = FromQColor(parent->palette().color(QPalette::Window));
  dither_ = MakeDitherBitmap(color_);
  setFocusPolicy(Qt::NoFocus);
  resize(25, 25);
}

TColor95Button::~TColor95Button() {
  if (Repeat().button == this) RepeatClicker::Stop();
}

void TColor95Button::SetSoundPlayer(std::function<void(const QString&)> player) {
  SoundPlayer() = std::move(player);
}

void TColor95Button::Play(const QString& sound) const {
  if (sound.isEmpty()) return;
  if (SoundPlayer()) SoundPlayer()(sound);
}

QKeySequence TColor95Button::AcceleratorOf(const QString& caption) {
  return QKeySequence::mnemonic(caption);
}

void TColor95Button::SetAllowAllUp(bool value) {
  if (value == allow_all_up_) return;
  allow_all_up_ = value;
  UpdateExclusive();
}

void TColor95Button::SetGroupIndex(int value) {
  if (value == group_index_) return;
  group_index_ = value;
  UpdateExclusive();
}

void TColor95Button::SetDown(bool value) {
  if (group_index_ == 0) value = false;
  if (value == down_) return;
  if (down_ && !allow_all_up_) return;
  down_ = value;
  if (value) {
    state_ = ButtonState::Latched;
    update();
    UpdateExclusive();
  } else {
    state_ = ButtonState::Up;
    repaint();
  }
}

void TColor95Button::UpdateExclusive() {
  if (group_index_ == 0 || parentWidget() == nullptr) return;
  const auto siblings = parentWidget()->findChildren<TColor95Button*>(Qt::FindDirectChildrenOnly);
  for (TColor95Button* other : siblings) {
    if (other != this && other->group_index_ == group_index_) other->ReleasedByGroup(this);
  }
}

void TColor95Button::ReleasedByGroup(TColor95Button* sender) {
  if (sender->down_ && down_) {
    down_ = false;
    state_ = ButtonState::Up;
    update();
  }
  allow_all_up_ = sender->allow_all_up_;
}

void TColor95Button::SetCaption(const QString& value) {
  if (value == caption_) return;
  caption_ = value;
  UpdateShortcut();
  update();
}

void TColor95Button::UpdateShortcut() {
  if (shortcut_id_ != 0) {
    releaseShortcut(shortcut_id_);
    shortcut_id_ = 0;
  }
  const QKeySequence key = AcceleratorOf(caption_);
  if (!key.isEmpty()) shortcut_id_ = grabShortcut(key, Qt::WindowShortcut);
}

void TColor95Button::SetFontColor(TColor value) {
  if (value == font_color_) return;
  font_color_ = value;
  update();
}

void TColor95Button::SetGlyph(const QImage& value) {
  glyph_ = value;
  update();
}

void TColor95Button::SetNumGlyphs(int value) {
  value = std::clamp(value, 1, 4);
  if (value == num_glyphs_) return;
  num_glyphs_ = value;
  update();
}

void TColor95Button::SetLayout(TButtonLayout value) {
  if (value == layout_) return;
  layout_ = value;
  update();
}

void TColor95Button::SetMargin(int value) {
  if (value == margin_ || value < -1) return;
  margin_ = value;
  update();
}

void TColor95Button::SetSpacing(int value) {
  if (value == spacing_) return;
  spacing_ = value;
  update();
}

void TColor95Button::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  dither_ = MakeDitherBitmap(color_);
  update();
}

void TColor95Button::SetStyle(TClr95ButtonStyle value) {
  if (value == style_) return;
  style_ = value;
  repaint();
}

void TColor95Button::SetOptions(TButtonOptions value) {
  if (value == options_) return;
  options_ = value;
  update();
}

void TColor95Button::Click() {
  Play(sound_click_);
  QPointer<TColor95Button> alive(this);
  if (OnClick) OnClick();
  if (alive) emit clicked();
}

bool TColor95Button::IsPressedLook() const {
  return state_ == ButtonState::Pressed || state_ == ButtonState::Latched;
}

bool TColor95Button::Inside(QPoint p) const {
  // The bottom row just below the button still counts, as it always has for these buttons.
  return p.x() >= 0 && p.x() < width() && p.y() >= 0 && p.y() <= height();
}

// -- painting ---------------------------------------------------------------------------------

void TColor95Button::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  Paint(canvas);
}

void TColor95Button::Paint(QPainter& canvas) {
  canvas.setRenderHint(QPainter::Antialiasing, false);
  canvas.setFont(TextFont(font()));
  if (!isEnabled()) {
    state_ = ButtonState::Disabled;
    tracking_ = false;
  } else if (state_ == ButtonState::Disabled) {
    state_ = down_ ? ButtonState::Latched : ButtonState::Up;
  }

  const TRect r{0, 0, width(), height()};
  TRect content = r;
  if (style_ == bsOwnerDraw && OnOwnerDraw) {
    OnOwnerDraw(this, canvas, r);
  } else {
    content = PaintFace(canvas, r, style_ == bsOwnerDraw ? bsNew : style_);
  }

  const QColor face = ToQColor(color_);
  if (state_ == ButtonState::Latched && (options_ & boDitherPattern) && style_ != bsOwnerDraw) {
    content.Right -= 1;
    content.Bottom -= 1;
    canvas.setPen(Qt::NoPen);
    canvas.setBrush(QBrush(dither_));
    if (style_ == bsEllipse) {
      gdi::FillEllipse(canvas, Shrink(content, 1));
    } else if (content.Width() > 0 && content.Height() > 0) {
      canvas.drawRect(content.ToQRect());
    }
  }

  if (mouse_in_control_ && isEnabled() && state_ != ButtonState::Pressed && style_ != bsIE4) {
    const bool lit = state_ == ButtonState::Up || state_ == ButtonState::Latched;
    const QColor color = lit ? ToQColor(Brighten(color_, 24)) : face;
    canvas.setPen(Qt::NoPen);
    canvas.setBrush(color);
    if (style_ == bsEllipse) {
      gdi::FillEllipse(canvas, Shrink(content, 1));
    } else {
      gdi::FillRect(canvas, content, color);
    }
  }

  DrawGlyphAndCaption(canvas, content);
}

TRect TColor95Button::PaintFace(QPainter& canvas, const TRect& r, TClr95ButtonStyle style) {
  const bool pressed = IsPressedLook();
  const BevelColors bevel = BevelColorsFor(color_, pressed);
  const QColor face = ToQColor(color_);
  const int inset = pressed ? 1 : 0;

  switch (style) {
    case bsEllipse: {
      const TRect e = Shrink(r, 2);
      canvas.setPen(Qt::NoPen);
      canvas.setBrush(face);
      gdi::FillEllipse(canvas, e);
      // Two-tone bevel between the upper-right and the lower-left point: the upper-left half
      // lit, the lower-right half shaded (the other way round when pressed).
      const QPoint p(4 * (r.Right / 5), r.Bottom / 5);
      const QPoint q(r.Right / 5, 4 * (r.Bottom / 5));
      auto arc = [&](TColor color, int width, QPoint from, QPoint to) {
        canvas.setPen(QPen(ToQColor(color), width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        gdi::Arc(canvas, e, from, to);
      };
      arc(bevel.c1, 2, p, q);
      arc(pressed ? bevel.c3 : bevel.c2, 2, q, p);
      arc(bevel.c4, 1, p, q);
      arc(pressed ? bevel.c2 : bevel.c3, 1, q, p);
      canvas.setPen(Qt::NoPen);
      return Shrink(r, 2 + inset);
    }
    case bsNew: {
      gdi::FillRect(canvas, r, face);
      const TRect inner = Frame3D(canvas, r, bevel.c4, bevel.c3);
      Frame3D(canvas, inner, bevel.c1, bevel.c2);
      return Shrink(r, 2 + inset);
    }
    case bsWin31: {
      gdi::FillRect(canvas, r, face);
      const TRect inner = Frame3D(canvas, r, clBlack, clBlack);
      const TRect bevel_area = Frame3D(canvas, inner, bevel.c1, bevel.c3);
      Frame3D(canvas, bevel_area, bevel.c4, bevel.c2);
      return Shrink(r, 3 + inset);
    }
    case bsTab:
    case bsSideDownTab: {
      gdi::FillRect(canvas, r, face);
      const QColor light = ToQColor(bevel.c1);
      const QColor dark = ToQColor(bevel.c3);
      if (style == bsTab) {
        // A tab standing on the bottom edge: open at the bottom.
        gdi::FillRect(canvas, TRect{r.Left + 2, r.Top, r.Right - 2, r.Top + 1}, light);
        gdi::FillRect(canvas, TRect{r.Left, r.Top + 2, r.Left + 1, r.Bottom}, light);
        gdi::FillRect(canvas, TRect{r.Left + 1, r.Top + 1, r.Left + 2, r.Top + 2}, light);
        gdi::FillRect(canvas, TRect{r.Right - 1, r.Top + 2, r.Right, r.Bottom}, dark);
        gdi::FillRect(canvas, TRect{r.Right - 2, r.Top + 1, r.Right - 1, r.Top + 2}, dark);
      } else {
        // A tab hanging on the left edge: open at the left.
        gdi::FillRect(canvas, TRect{r.Left, r.Top, r.Right - 2, r.Top + 1}, light);
        gdi::FillRect(canvas, TRect{r.Right - 1, r.Top + 2, r.Right, r.Bottom - 2}, dark);
        gdi::FillRect(canvas, TRect{r.Right - 2, r.Top + 1, r.Right - 1, r.Top + 2}, dark);
        gdi::FillRect(canvas, TRect{r.Right - 2, r.Bottom - 2, r.Right - 1, r.Bottom - 1}, dark);
        gdi::FillRect(canvas, TRect{r.Left, r.Bottom - 1, r.Right - 2, r.Bottom}, dark);
      }
      return Shrink(r, 2 + inset);
    }
    case bsIE4: {
      gdi::FillRect(canvas, r, face);
      // Flat until the mouse is over it or it is held down.
      if (pressed) {
        Frame3D(canvas, r, bevel.c1, bevel.c3);
      } else if (mouse_in_control_ && isEnabled()) {
        Frame3D(canvas, r, bevel.c1, bevel.c3);
      }
      return Shrink(r, 1 + inset);
    }
    case bsGlass:
    case bsGradient: {
      // A vertical blend: lighter at the top for glass, from the light to the shaded bevel
      // colour for the gradient face (reversed when pressed).
      std::array<TColor, 5> stops{};
      if (style == bsGlass) {
        stops = {Brighten(color_, pressed ? 16 : 72), color_, Darken(color_, 24), color_, color_};
      } else {
        stops = {pressed ? bevel.c4 : bevel.c1, pressed ? bevel.c1 : bevel.c2, color_, color_,
                 color_};
      }
      const int segments = style == bsGlass ? 2 : 1;
      for (int y = r.Top; y < r.Bottom; ++y) {
        const int h = std::max(r.Height() - 1, 1);
        const int seg_len = std::max(h / segments, 1);
        const int seg = std::min((y - r.Top) / seg_len, segments - 1);
        const double t = std::min(1.0, static_cast<double>(y - r.Top - seg * seg_len) / seg_len);
        const TColor a = stops[static_cast<std::size_t>(seg)];
        const TColor b = stops[static_cast<std::size_t>(seg + 1)];
        const auto mix = [t](int x, int z) {
          return static_cast<int>(std::lround(x + (z - x) * t));
        };
        const QColor line(mix(RedOf(ColorToRGB(a)), RedOf(ColorToRGB(b))),
                          mix(GreenOf(ColorToRGB(a)), GreenOf(ColorToRGB(b))),
                          mix(BlueOf(ColorToRGB(a)), BlueOf(ColorToRGB(b))));
        gdi::FillRect(canvas, TRect{r.Left, y, r.Right, y + 1}, line);
      }
      Frame3D(canvas, r, bevel.c3, bevel.c3);
      return Shrink(r, 1 + inset);
    }
    case bsFlat: {
      gdi::FillRect(canvas, r, face);
      Frame3D(canvas, r, pressed ? bevel.c2 : bevel.c3, pressed ? bevel.c2 : bevel.c3);
      return Shrink(r, 1 + inset);
    }
    case bsMicroposeGame: {
      gdi::FillRect(canvas, r, face);
      TRect inner = Frame3D(canvas, r, clBlack, clBlack);
      inner = Frame3D(canvas, inner, bevel.c1, bevel.c3);
      Frame3D(canvas, inner, bevel.c1, bevel.c3);
      return Shrink(r, 3 + inset);
    }
    case bsOwnerDraw:
      break;
  }
  return r;
}

QImage TColor95Button::GlyphFor(ButtonState state) const {
  if (glyph_.isNull() || glyph_.width() < num_glyphs_) return QImage();
  const int w = glyph_.width() / num_glyphs_;
  auto picture = [&](int index) { return glyph_.copy(index * w, 0, w, glyph_.height()); };
  const int index = static_cast<int>(state);
  if (index < num_glyphs_) return WithTransparentColor(picture(index));
  if (state == ButtonState::Disabled) return EmbossedGlyph(picture(0), color_);
  return WithTransparentColor(picture(0));
}

void TColor95Button::DrawGlyphAndCaption(QPainter& canvas, const TRect& content) {
  const QFont font = TextFont(this->font());
  const QFontMetrics metrics(font);
  constexpr int kTextFlags = Qt::TextShowMnemonic;
  const QSize text_size = caption_.isEmpty() ? QSize(0, 0) : metrics.size(kTextFlags, caption_);
  const QImage glyph = GlyphFor(state_);
  const QSize glyph_size = glyph_.isNull() || glyph_.width() < num_glyphs_
                               ? QSize(0, 0)
                               : QSize(glyph_.width() / num_glyphs_, glyph_.height());

  const ButtonLayoutResult place = CalcButtonLayout(
      QSize(content.Width(), content.Height()), glyph_size, text_size, layout_, margin_, spacing_);
  const QPoint origin(content.Left, content.Top);

  if (!glyph.isNull()) canvas.drawImage(place.glyph_pos + origin, glyph);
  if (caption_.isEmpty()) return;

  const QRect bounds = place.text_bounds.translated(origin);
  const int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
  canvas.setFont(font);
  canvas.setBrush(Qt::NoBrush);
  if (state_ == ButtonState::Disabled) {
    canvas.setPen(ToQColor(Brighten(color_, 96)));
    canvas.drawText(bounds.translated(1, 1), flags, caption_);
    canvas.setPen(ToQColor(Darken(color_, 96)));
    canvas.drawText(bounds, flags, caption_);
    return;
  }
  TColor text_color = font_color_;
  if (options_ & boAutoBlackWhiteText) {
    const TColor c = ColorToRGB(color_);
    const double grey =
        std::nearbyint((20.0 * RedOf(c) + 50.0 * GreenOf(c) + 30.0 * BlueOf(c)) / 100.0);
    text_color = grey >= 128 ? clBlack : clWhite;
  }
  canvas.setPen(ToQColor(text_color));
  canvas.drawText(bounds, flags, caption_);
}

// -- mouse and keyboard -----------------------------------------------------------------------

void TColor95Button::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && isEnabled()) {
    if (state_ != ButtonState::Latched) {
      state_ = ButtonState::Pressed;
      repaint();
    }
    tracking_ = true;
  }
  if (options_ & boRepeatable) RepeatClicker::Start(this);
  event->accept();
}

void TColor95Button::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double click presses the button again, like the first.
  mousePressEvent(event);
}

void TColor95Button::mouseMoveEvent(QMouseEvent* event) {
  if (!tracking_) return;
  const bool inside = Inside(event->position().toPoint());
  ButtonState next = down_ ? ButtonState::Latched : ButtonState::Up;
  if (inside) next = down_ ? ButtonState::Latched : ButtonState::Pressed;
  if (next != state_) {
    state_ = next;
    repaint();
  }
}

void TColor95Button::mouseReleaseEvent(QMouseEvent* event) {
  RepeatClicker::Stop();
  if (event->button() != Qt::LeftButton || !tracking_) return;
  tracking_ = false;
  const bool inside = Inside(event->position().toPoint());
  state_ = ButtonState::Up;
  if (group_index_ == 0) {
    repaint();
  } else {
    if (inside) SetDown(!down_);
    // Down even when releasing it was refused: keep the latched face.
    if (down_) state_ = ButtonState::Latched;
    repaint();
  }
  if (inside) Click();
}

void TColor95Button::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (mouse_in_control_ || !(options_ & boShowMouseFocus) || !isEnabled()) return;
  mouse_in_control_ = true;
  Play(sound_mouse_over_);
  update();
}

void TColor95Button::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  mouse_in_control_ = false;
  update();
}

void TColor95Button::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  switch (event->type()) {
    case QEvent::EnabledChange:
      // A button that is down comes back latched, not up: an up face on a down button would
      // show the wrong state until the next click.
      if (isEnabled()) {
        state_ = down_ ? ButtonState::Latched : ButtonState::Up;
      } else {
        state_ = ButtonState::Disabled;
        tracking_ = false;
      }
      update();
      break;
    case QEvent::FontChange:
      update();
      break;
    default:
      break;
  }
}

bool TColor95Button::event(QEvent* event) {
  if (event->type() == QEvent::Shortcut) {
    const auto* shortcut = static_cast<QShortcutEvent*>(event);
    if (shortcut_id_ != 0 && shortcut->shortcutId() == shortcut_id_) {
      if (isEnabled() && isVisible()) Click();
      return true;
    }
  }
  return QWidget::event(event);
}
