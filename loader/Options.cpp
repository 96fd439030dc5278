#include "Options.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "ColorBtns.h"
#include "Gradient.h"
#include "form_look.h"
#include "hex.h"

TOptForm* OptForm = nullptr;

namespace {

constexpr QSize kClientSize(273, 204);
constexpr const char* kAddressWarning = "Die IO-Adresse ist möglicherweise unzulässig !";
constexpr const char* kWarningTitle = "Warnung";

}  // namespace

// --- CaptionLeftCheckBox ----------------------------------------------------------------------

void CaptionLeftCheckBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  const QRect box = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
  // The box at the right edge, the caption from the left edge.
  QStyleOptionButton indicator = option;
  indicator.rect =
      QRect(width() - box.width(), (height() - box.height()) / 2, box.width(), box.height());
  // The box itself keeps the system's white face and black tick: on the navy panel it would
  // otherwise vanish.
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    indicator.palette.setColor(group, QPalette::Base, Qt::white);
    indicator.palette.setColor(group, QPalette::Text, Qt::black);
    indicator.palette.setColor(group, QPalette::Window, QColor(192, 192, 192));
  }
  indicator.palette.setColor(QPalette::Disabled, QPalette::Base, QColor(192, 192, 192));
  indicator.palette.setColor(QPalette::Disabled, QPalette::Text, QColor(128, 128, 128));
  painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicator);
  QStyleOptionButton label = option;
  label.rect = QRect(0, 0, width() - box.width() - 4, height());
  painter.drawItemText(label.rect, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(), text(),
                       QPalette::WindowText);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = fontMetrics()
                     .boundingRect(label.rect, Qt::AlignLeft | Qt::AlignVCenter, text())
                     .adjusted(-1, 0, 1, 0);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

bool CaptionLeftCheckBox::hitButton(const QPoint& position) const {
  return rect().contains(position);
}

// --- TOptForm ---------------------------------------------------------------------------------

TOptForm::TOptForm(platform::Host& system, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      system_(system) {
  setObjectName("OptForm");
  setWindowTitle("Optionen");
  ApplyFormLook(*this);
  setFixedSize(kClientSize);
  setModal(true);

  DfGradient1 = new TDfGradient(this);
  DfGradient1->setObjectName("DfGradient1");
  ApplyGradientLook(*DfGradient1);
  DfGradient1->SetAlign(alClient);

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setGeometry(16, 24, 241, 113);
  Panel1->setFrameShape(QFrame::NoFrame);
  Panel1->setAutoFillBackground(true);

  CheckBox3 = new CaptionLeftCheckBox(QString::fromUtf8("Gerätetreiber benutzen"), Panel1);
  CheckBox3->setObjectName("CheckBox3");
  CheckBox3->setGeometry(8, 8, 225, 17);
  CheckBox3->setMouseTracking(true);  // its rule also runs on mouse movement

  Label1 = new QLabel("PCMCIA IO-Adresse:", Panel1);
  Label1->setObjectName("Label1");
  Label1->setGeometry(9, 38, 117, 13);

  CheckBox1 = new CaptionLeftCheckBox("Automatisch", Panel1);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setGeometry(8, 56, 97, 17);

  ComboBox1 = new QComboBox(Panel1);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setGeometry(136, 52, 97, 21);
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->addItems({"0300", "0320", "0340", "0360", "0380"});

  CheckBox2 = new CaptionLeftCheckBox("SCM ISA-Swapbox Modus", Panel1);
  CheckBox2->setObjectName("CheckBox2");
  CheckBox2->setGeometry(8, 88, 225, 17);

  Button1 = new TColor95Button(this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(80, 152, 113, 33);
  ApplyButtonLook(*Button1, "OK", DefaultFormFont());
  Button1->OnClick = [this] { Button1Click(); };

  // Tab order: "Automatisch", the address, "Gerätetreiber benutzen", "SCM ISA-Swapbox Modus".
  setTabOrder(CheckBox1, ComboBox1);
  setTabOrder(ComboBox1, CheckBox3);
  setTabOrder(CheckBox3, CheckBox2);

  for (QWidget* control : {static_cast<QWidget*>(CheckBox1), static_cast<QWidget*>(CheckBox2),
                           static_cast<QWidget*>(CheckBox3), static_cast<QWidget*>(ComboBox1)}) {
    control->installEventFilter(this);
  }
  ComboBox1->lineEdit()->installEventFilter(this);
  connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Rule(); });
  connect(CheckBox2, &QCheckBox::clicked, this, [this] { CheckBox1Rule(); });
  connect(CheckBox3, &QCheckBox::clicked, this, [this] { CheckBox3Rule(); });
}

void TOptForm::LoadFrom(const ModuleLink& link) {
  CheckBox1->setChecked(link.AutoProbe);
  CheckBox2->setChecked(link.SwapboxMode);
  CheckBox3->setChecked(link.UseDriver);
  ComboBox1->setEditText(QString::fromStdString(HexDigits(link.IOBaseSetting, 4)));
}

void TOptForm::StoreInto(ModuleLink& link) const {
  link.AutoProbe = CheckBox1->isChecked();
  link.SwapboxMode = CheckBox2->isChecked();
  link.UseDriver = CheckBox3->isChecked();
  link.IOBaseSetting = static_cast<std::uint16_t>(HexValue(ComboBox1->currentText().toStdString()));
}

bool TOptForm::Edit(ModuleLink& link) {
  LoadFrom(link);
  if (exec() != QDialog::Accepted) return false;
  StoreInto(link);
  return true;
}

void TOptForm::CheckBox1Rule() {
  ComboBox1->setEnabled(!CheckBox1->isChecked());
}

void TOptForm::CheckBox3Rule() {
  const bool driver = CheckBox3->isChecked();
  CheckBox1->setEnabled(!driver);
  Label1->setEnabled(!driver);
  ComboBox1->setEnabled(!driver && !CheckBox1->isChecked());
}

void TOptForm::Button1Click() {
  if (!CheckBox1->isChecked()) {
    const std::int32_t address = HexValue(ComboBox1->currentText().toStdString());
    // Below 0x300, above 0x380 or not a hexadecimal number at all (-1).
    if (static_cast<std::uint32_t>(address) - 768u >= 129u) {
      system_.ShowSystemMessage(kAddressWarning, kWarningTitle, true);
    }
  }
  done(QDialog::Accepted);
}

void TOptForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
    CheckBox1Rule();
    CheckBox3Rule();
  }
}

bool TOptForm::FormKeyPress(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Button1Click();
      return true;
    case Qt::Key_Escape:
      done(QDialog::Rejected);
      return true;
    default:
      return false;
  }
}

void TOptForm::keyPressEvent(QKeyEvent* event) {
  if (FormKeyPress(event)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TOptForm::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::KeyPress && FormKeyPress(static_cast<QKeyEvent*>(event))) return true;
  const bool ruleEvent = type == QEvent::KeyPress || type == QEvent::FocusIn;
  if (watched == CheckBox1 || watched == CheckBox2) {
    if (ruleEvent || type == QEvent::MouseButtonRelease) CheckBox1Rule();
  } else if (watched == CheckBox3) {
    if (ruleEvent || type == QEvent::MouseMove) CheckBox3Rule();
  }
  return QDialog::eventFilter(watched, event);
}
