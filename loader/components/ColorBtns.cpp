#include "ColorBtns.h"

#include "qt_canvas.h"

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
// Colour helpers

QImage MakeDitherBitmap(TColor face) {
  return PatternImage(MakeDitherPattern(face));
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
  if (button->State() != ButtonState::Pressed || !button->behaviour_.Tracking()) return;
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
  if (value == behaviour_.AllowAllUp()) return;
  behaviour_.SetAllowAllUp(value);
  UpdateExclusive();
}

void TColor95Button::SetGroupIndex(int value) {
  if (value == behaviour_.GroupIndex()) return;
  behaviour_.SetGroupIndex(value);
  UpdateExclusive();
}

void TColor95Button::SetDown(bool value) {
  AfterDownChange(behaviour_.SetDown(value));
}

void TColor95Button::AfterDownChange(DownChange change) {
  switch (change) {
    case DownChange::Latched:
      update();
      UpdateExclusive();
      break;
    case DownChange::Released:
      repaint();
      break;
    case DownChange::None:
      break;
  }
}

void TColor95Button::UpdateExclusive() {
  const int group = behaviour_.GroupIndex();
  if (group == 0 || parentWidget() == nullptr) return;
  const auto siblings = parentWidget()->findChildren<TColor95Button*>(Qt::FindDirectChildrenOnly);
  for (TColor95Button* other : siblings) {
    if (other != this && other->behaviour_.GroupIndex() == group) other->ReleasedByGroup(this);
  }
}

void TColor95Button::ReleasedByGroup(TColor95Button* sender) {
  if (behaviour_.ReleasedByGroup(sender->behaviour_)) update();
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

bool TColor95Button::Inside(QPoint p) const {
  return ButtonBehaviour::Inside(TSize{width(), height()}, TPoint{p.x(), p.y()});
}

// -- painting ---------------------------------------------------------------------------------

void TColor95Button::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Paint(painter);
}

void TColor95Button::Paint(QPainter& painter) {
  behaviour_.SetEnabled(isEnabled());
  QtCanvas canvas(painter, TSize{width(), height()});
  canvas.SetFont(font());
  const ColorButtonLook look{style_,  color_,  font_color_, options_,
                             layout_, margin_, spacing_,    caption_.toStdString()};
  ButtonGlyph glyph;
  if (!glyph_.isNull() && glyph_.width() >= num_glyphs_) {
    glyph.size = TSize{glyph_.width() / num_glyphs_, glyph_.height()};
    glyph.draw = [this, &painter](Canvas&, TPoint at, ButtonState state) {
      painter.drawImage(ToQPoint(at), GlyphFor(state));
    };
  }
  std::function<void(const TRect&)> owner_draw;
  if (OnOwnerDraw) owner_draw = [this, &painter](const TRect& r) { OnOwnerDraw(this, painter, r); };
  PaintColorButton(canvas, TSize{width(), height()}, look, behaviour_.State(),
                   behaviour_.MouseInControl(), isEnabled(), owner_draw, glyph);
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

// -- mouse and keyboard -----------------------------------------------------------------------

void TColor95Button::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const ButtonState before = behaviour_.State();
    if (behaviour_.Press(isEnabled()) && behaviour_.State() != before) repaint();
  }
  if (options_ & boRepeatable) RepeatClicker::Start(this);
  event->accept();
}

void TColor95Button::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double click presses the button again, like the first.
  mousePressEvent(event);
}

void TColor95Button::mouseMoveEvent(QMouseEvent* event) {
  if (behaviour_.Track(Inside(event->position().toPoint()))) repaint();
}

void TColor95Button::mouseReleaseEvent(QMouseEvent* event) {
  RepeatClicker::Stop();
  if (event->button() != Qt::LeftButton) return;
  const ButtonRelease release = behaviour_.Release(Inside(event->position().toPoint()));
  if (!release.handled) return;
  if (release.down == DownChange::Latched) UpdateExclusive();
  repaint();
  if (release.click) Click();
}

void TColor95Button::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (!behaviour_.Enter(options_ & boShowMouseFocus, isEnabled())) return;
  Play(sound_mouse_over_);
  update();
}

void TColor95Button::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  behaviour_.Leave();
  update();
}

void TColor95Button::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  switch (event->type()) {
    case QEvent::EnabledChange:
      // A button that is down comes back latched, not up: an up face on a down button would
      // show the wrong state until the next click.
      behaviour_.SetEnabled(isEnabled());
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
