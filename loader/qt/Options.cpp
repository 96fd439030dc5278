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
#include "options_form.h"

TOptForm* OptForm = nullptr;

namespace {

using namespace options_form;

QRect Place(const ControlPlace& p) {
  return QRect(p.left, p.top, p.width, p.height);
}

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

OptionsValues ValuesOf(const TOptForm& form) {
  return OptionsValues{form.CheckBox1->isChecked(), form.CheckBox2->isChecked(),
                       form.CheckBox3->isChecked(), form.ComboBox1->currentText().toStdString()};
}

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
  setWindowTitle(Text(kCaption));
  ApplyFormLook(*this);
  setFixedSize(kClientSize.Width, kClientSize.Height);
  setModal(true);

  DfGradient1 = new TDfGradient(this);
  DfGradient1->setObjectName("DfGradient1");
  ApplyGradientLook(*DfGradient1);
  DfGradient1->SetAlign(alClient);

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setGeometry(Place(kPanel1));
  Panel1->setFrameShape(QFrame::NoFrame);
  Panel1->setAutoFillBackground(true);

  CheckBox3 = new CaptionLeftCheckBox(Text(kCheckBox3Caption), Panel1);
  CheckBox3->setObjectName("CheckBox3");
  CheckBox3->setGeometry(Place(kCheckBox3));
  CheckBox3->setMouseTracking(true);  // its rule also runs on mouse movement

  Label1 = new QLabel(Text(kLabel1Caption), Panel1);
  Label1->setObjectName("Label1");
  Label1->setGeometry(Place(kLabel1));

  CheckBox1 = new CaptionLeftCheckBox(Text(kCheckBox1Caption), Panel1);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setGeometry(Place(kCheckBox1));

  ComboBox1 = new QComboBox(Panel1);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setGeometry(Place(kComboBox1));
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  for (const char* address : kAddresses) ComboBox1->addItem(Text(address));

  CheckBox2 = new CaptionLeftCheckBox(Text(kCheckBox2Caption), Panel1);
  CheckBox2->setObjectName("CheckBox2");
  CheckBox2->setGeometry(Place(kCheckBox2));

  Button1 = new TColor95Button(this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(Place(options_form::kButton1));
  ApplyButtonLook(*Button1, kButton1Caption, kDefaultFormFont);
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
  const OptionsValues values = OptionsValuesOf(link);
  CheckBox1->setChecked(values.checkBox1);
  CheckBox2->setChecked(values.checkBox2);
  CheckBox3->setChecked(values.checkBox3);
  ComboBox1->setEditText(QString::fromStdString(values.comboBox1));
}

void TOptForm::StoreInto(ModuleLink& link) const {
  StoreOptionsValues(ValuesOf(*this), link);
}

bool TOptForm::Edit(ModuleLink& link) {
  LoadFrom(link);
  if (exec() != QDialog::Accepted) return false;
  StoreInto(link);
  return true;
}

void TOptForm::CheckBox1Rule() {
  ComboBox1->setEnabled(ComboBox1EnabledByCheckBox1(CheckBox1->isChecked()));
}

void TOptForm::CheckBox3Rule() {
  const CheckBox3Enabling enabling =
      ::CheckBox3Rule(CheckBox3->isChecked(), CheckBox1->isChecked());
  CheckBox1->setEnabled(enabling.checkBox1);
  Label1->setEnabled(enabling.label1);
  ComboBox1->setEnabled(enabling.comboBox1);
}

void TOptForm::Button1Click() {
  const OptionsValues values = ValuesOf(*this);
  if (AddressNeedsWarning(values.checkBox1, values.comboBox1)) {
    system_.ShowSystemMessage(kAddressWarning, kWarningTitle, true);
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
  const int key = event->key();
  const int character = key == Qt::Key_Return || key == Qt::Key_Enter ? '\r'
                        : key == Qt::Key_Escape                       ? 27
                                                                      : 0;
  switch (OptionsDialogKey(character)) {
    case DialogKey::kOk:
      Button1Click();
      return true;
    case DialogKey::kCancel:
      done(QDialog::Rejected);
      return true;
    case DialogKey::kNone:
      break;
  }
  return false;
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
