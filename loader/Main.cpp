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
#include "msgunit.h"
#include "settings.h"

TMainLoaderForm* MainLoaderForm = nullptr;

namespace {

constexpr QSize kClientSize(369, 191);
constexpr const char* kLayoutTitle = "Morvane Update";
constexpr const char* kInternalUseLine = "Nur für interne Verwendung !";
constexpr int kStatusLineRightEdge = 361;
constexpr int kStatusLineTop = 152;
constexpr int kTimerIntervalMs = 100;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  label->move(left, top);
  label->adjustSize();
  return label;
}

}  // namespace

std::string MainWindowCaption(std::string_view makerNotice) {
  std::string caption = "Morvane Loader XP USB";
  if (!makerNotice.empty()) caption.append(" ").append(makerNotice);
  return caption;
}

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
  setFixedSize(kClientSize);
  setFocusPolicy(Qt::StrongFocus);

  DfGradient1 = new TDfGradient(this);
  DfGradient1->setObjectName("DfGradient1");
  DfGradient1->setGeometry(2, 16, 369, 161);
  ApplyGradientLook(*DfGradient1);

  Label5 = new QLabel(kLayoutTitle, this);
  Label5->setObjectName("Label5");
  Label5->setTextFormat(Qt::PlainText);
  Label5->setGeometry(16, 12, 345, 32);
  Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label5->setFont(FormFont("Arial", 27, true));

  Label3 = new QLabel(this);
  Label3->setFont(FormFont("Arial", 11, false));
  Label3->setObjectName("Label3");
  Label3->setTextFormat(Qt::PlainText);
  Label3->setText(QString::fromStdString("Infos at " + std::string(MakerWebAddress)));
  Label3->move(124, 40);
  Label3->adjustSize();

  Label7 = MakeLabel(this, "Label7", QString(), 0, 0);
  Label7->hide();

  Color95Button1 = new TColor95Button(this);
  Color95Button1->setObjectName("Color95Button1");
  Color95Button1->setGeometry(8, 56, 73, 25);
  ApplyButtonLook(*Color95Button1, "Optionen", DefaultFormFont());
  Color95Button1->OnClick = [this] { Color95Button1Click(); };

  Button1 = new TColor95Button(this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(64, 72, 273, 49);
  ApplyButtonLook(*Button1, "Start Update", FormFont("Arial", 19, true));
  Button1->OnClick = [this] { Button1Click(); };

  Color95Button2 = new TColor95Button(this);
  Color95Button2->setObjectName("Color95Button2");
  Color95Button2->setGeometry(8, 112, 73, 25);
  ApplyButtonLook(*Color95Button2, "Exit", DefaultFormFont());
  Color95Button2->OnClick = [this] { Color95Button2Click(); };

  Label6 = MakeLabel(this, "Label6", QString(), kStatusLineRightEdge, kStatusLineTop);
  Label6->setAlignment(Qt::AlignRight | Qt::AlignTop);

  Label2 = new QLabel(this);
  Label2->setObjectName("Label2");
  Label2->setTextFormat(Qt::PlainText);
  Label2->setFont(FormFont("Arial", 11, true));
  Label2->move(16, 154);
  Label2->adjustSize();

  Fortschritt = MakeLabel(this, "Fortschritt", "Fortschritt:", 16, 170);

  ProgressBar1 = new TGauge(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(88, 170, 273, 13);
  ProgressBar1->SetBorderStyle(bsNone);
  ProgressBar1->SetForeColor(clGold);
  ProgressBar1->SetBackColor(clNavy);
  ProgressBar1->SetFont(font());

  Label1 = MakeLabel(this, "Label1", QString(), 0, 0);
  Label1->hide();
  Label4 = MakeLabel(this, "Label4", QString(), 0, 0);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kTimerIntervalMs);
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
  const HeaderTexts header =
      MainWindowHeader(ImageTitle, ImageVendor, ImageNote, PublicBuild, kLayoutTitle);
  Label5->setText(QString::fromStdString(header.title));
  if (header.cornerVisible) {
    Label7->setText(QString::fromStdString(header.cornerLabel));
    Label7->adjustSize();
    Label7->show();
  }
  if (header.internalBuildLine) {
    Label3->setText(QString::fromUtf8(kInternalUseLine));
    Label3->adjustSize();
  }
}

QPoint TMainLoaderForm::CentredPosition() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return pos();
  const QRect area = screen->availableGeometry();
  const QSize outer = frameGeometry().size();
  return area.topLeft() +
         QPoint((area.width() - outer.width()) / 2, (area.height() - outer.height()) / 2);
}

bool TMainLoaderForm::OnScreen(QPoint position) const {
  // The middle of the title bar must lie on a screen, so that the user can reach the window.
  const QPoint grip = position + QPoint(frameGeometry().width() / 2, 8);
  return QGuiApplication::screenAt(grip) != nullptr;
}

void TMainLoaderForm::FormShow() {
  // The window opens at its stored position when that lies on a screen, else centred.
  const QPoint centred = CentredPosition();
  const WindowPosition stored = LoadWindowPosition(profile_, {centred.x(), centred.y()});
  LoadLinkSettings(link_, profile_);
  const QPoint wanted(stored.left, stored.top);
  move(OnScreen(wanted) ? wanted : centred);
}

void TMainLoaderForm::FormClose() {
  SaveSettings(profile_, {pos().x(), pos().y()}, link_);  // a failure is ignored
  link_.ModuleClose();
}

void TMainLoaderForm::Button1Click() {
  if (running_) return;  // never a second run from within the first one's pumping
  running_ = true;
  UpdateProcedure procedure(link_, *this, application_, image_);
  procedure.Run();
  running_ = false;
}

void TMainLoaderForm::Color95Button1Click() {
  if (running_ || options_ == nullptr) return;
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
  Label6->move(kStatusLineRightEdge - Label6->width(), kStatusLineTop);
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
  if (running_) {
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
    if (Button1->isEnabled() && !running_) Button1Click();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}
