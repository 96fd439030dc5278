#include "Main.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>

#include "ColorBtns.h"
#include "Gauges.h"
#include "Gradient.h"
#include "Options.h"
#include "Update.h"
#include "form_look.h"
#include "main_form.h"
#include "msgunit.h"
#include "settings.h"

TMainLoaderForm* MainLoaderForm = nullptr;

namespace {

using namespace main_form;

QRect Place(const ControlPlace& p) {
  return QRect(p.left, p.top, p.width, p.height);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  label->move(left, top);
  label->adjustSize();
  return label;
}

}  // namespace

TMainLoaderForm::TMainLoaderForm(ModuleLink& link, platform::Host& application,
                                 platform::PrivateProfile& profile, const UpdateImage& image,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      link_(link),
      application_(application),
      profile_(profile),
      image_(image) {
  setObjectName("MainLoaderForm");
  setWindowTitle(QString::fromStdString(MainWindowCaption(MakerNotice)));
  ApplyFormLook(*this);
  setFixedSize(kClientSize.Width, kClientSize.Height);
  setFocusPolicy(Qt::StrongFocus);

  DfGradient1 = new TDfGradient(this);
  DfGradient1->setObjectName("DfGradient1");
  DfGradient1->setGeometry(Place(kDfGradient1));
  ApplyGradientLook(*DfGradient1);

  Label5 = new QLabel(kLayoutTitle, this);
  Label5->setObjectName("Label5");
  Label5->setTextFormat(Qt::PlainText);
  Label5->setGeometry(Place(kLabel5));
  Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label5->setFont(FormFont(kLabel5Font));

  Label3 = new QLabel(this);
  Label3->setFont(FormFont(kLabel3Font));
  Label3->setObjectName("Label3");
  Label3->setTextFormat(Qt::PlainText);
  Label3->move(kLabel3.X, kLabel3.Y);
  Label3->adjustSize();

  Label7 = MakeLabel(this, "Label7", QString(), 0, 0);
  Label7->hide();

  Color95Button1 = new TColor95Button(this);
  Color95Button1->setObjectName("Color95Button1");
  Color95Button1->setGeometry(Place(kColor95Button1));
  ApplyButtonLook(*Color95Button1, kOptionsCaption, kDefaultFormFont);
  Color95Button1->OnClick = [this] { Color95Button1Click(); };

  Button1 = new TColor95Button(this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(Place(kButton1));
  ApplyButtonLook(*Button1, kStartCaption, kButton1Font);
  Button1->OnClick = [this] { Button1Click(); };

  Color95Button2 = new TColor95Button(this);
  Color95Button2->setObjectName("Color95Button2");
  Color95Button2->setGeometry(Place(kColor95Button2));
  ApplyButtonLook(*Color95Button2, kExitCaption, kDefaultFormFont);
  Color95Button2->OnClick = [this] { Color95Button2Click(); };

  Label6 = MakeLabel(this, "Label6", QString(), kLabel6Right, kLabel6Top);
  Label6->setAlignment(Qt::AlignRight | Qt::AlignTop);

  Label2 = new QLabel(this);
  Label2->setObjectName("Label2");
  Label2->setTextFormat(Qt::PlainText);
  Label2->setFont(FormFont(kLabel2Font));
  Label2->move(kLabel2.X, kLabel2.Y);
  Label2->adjustSize();

  Fortschritt = MakeLabel(this, "Fortschritt", kProgressCaption, kFortschritt.X, kFortschritt.Y);

  ProgressBar1 = new TGauge(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(Place(kProgressBar1));
  ProgressBar1->SetKind(kProgressBar1Look.kind);
  ProgressBar1->SetShowText(kProgressBar1Look.show_text);
  ProgressBar1->SetBorderStyle(kProgressBar1Look.border_style);
  ProgressBar1->SetForeColor(kProgressBar1Look.fore_color);
  ProgressBar1->SetBackColor(kProgressBar1Look.back_color);
  ProgressBar1->SetFont(font());

  Label1 = MakeLabel(this, "Label1", QString(), 0, 0);
  Label1->hide();
  Label4 = MakeLabel(this, "Label4", QString(), 0, 0);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kTimer1IntervalMs);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();

  FormCreate();
}

TMainLoaderForm::~TMainLoaderForm() {
  if (MainLoaderForm == this) MainLoaderForm = nullptr;
}

void TMainLoaderForm::SetDialogs(TOptForm* options, TMessageForm* messages) {
  options_ = options;
  messages_ = messages;
}

void TMainLoaderForm::FormCreate() {
  link_.IOBase = 800;
  Label4->hide();
  const MainWindowTexts texts = MainTexts();
  Label5->setText(QString::fromStdString(texts.title));
  if (texts.cornerVisible) {
    Label7->setText(QString::fromStdString(texts.corner));
    Label7->adjustSize();
    Label7->show();
  }
  Label3->setText(QString::fromStdString(texts.webLine));
  Label3->adjustSize();
}

QPoint TMainLoaderForm::CentredPosition() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return pos();
  const QRect area = screen->availableGeometry();
  const QSize outer = frameGeometry().size();
  return area.topLeft() +
         QPoint((area.width() - outer.width()) / 2, (area.height() - outer.height()) / 2);
}

void TMainLoaderForm::FormShow() {
  // The window opens at its stored position when that lies on a screen, else centred.
  const QPoint centred = CentredPosition();
  const WindowPosition stored = LoadWindowPosition(profile_, {centred.x(), centred.y()});
  LoadLinkSettings(link_, profile_);
  const WindowPosition at = ChooseMainWindowPosition(
      stored, {centred.x(), centred.y()}, frameGeometry().width(),
      [](TPoint grip) { return QGuiApplication::screenAt(QPoint(grip.X, grip.Y)) != nullptr; });
  move(at.left, at.top);
}

void TMainLoaderForm::FormClose() {
  MainFormClose(profile_, {pos().x(), pos().y()}, link_);
}

void TMainLoaderForm::Button1Click() {
  update_.Run(link_, *this, application_, image_);
}

void TMainLoaderForm::Color95Button1Click() {
  if (update_.Running() || options_ == nullptr) return;
  options_->Edit(link_);
}

void TMainLoaderForm::Color95Button2Click() {
  close();
}

void TMainLoaderForm::Timer1Timer() {
  link_.TimeoutTick();
}

void TMainLoaderForm::SetStatusLine(const std::string& text) {
  Label6->setText(QString::fromStdString(text));
  Label6->adjustSize();
  Label6->move(kLabel6Right - Label6->width(), kLabel6Top);
}

void TMainLoaderForm::SetGauge(int percent) {
  ProgressBar1->SetProgress(percent);
}

void TMainLoaderForm::SetButtonsEnabled(bool enabled) {
  Button1->setEnabled(enabled);
  Color95Button1->setEnabled(enabled);
  Color95Button2->setEnabled(enabled);
}

void TMainLoaderForm::ClearLabel2() {
  Label2->clear();
  Label2->adjustSize();
}

void TMainLoaderForm::ShowMessageForm(const std::string& text, const std::string& title) {
  if (messages_ != nullptr) messages_->ShowMessageForm(text, title);
}

void TMainLoaderForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shown_ && !event->spontaneous()) {
    shown_ = true;
    FormShow();
  }
}

void TMainLoaderForm::closeEvent(QCloseEvent* event) {
  if (update_.Running()) {
    // An update in progress is never cut off: the module could be left half programmed.
    event->ignore();
    return;
  }
  if (!closed_) {
    closed_ = true;
    FormClose();
  }
  event->accept();
}

void TMainLoaderForm::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
    const int character = key == Qt::Key_Space ? ' ' : '\r';
    if (MainKeyStartsUpdate(character, Button1->isEnabled(), update_.Running())) Button1Click();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}
