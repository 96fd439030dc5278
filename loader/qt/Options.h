// The options dialog: how the updater reaches the module (device driver, fixed or probed I/O
// address, SCM ISA swapbox mode). Every use refills it from the link's settings; the values
// are taken over only when it is left with "OK" or Enter.
#pragma once

#include <QCheckBox>
#include <QDialog>

#include "host.h"
#include "pcmcia.h"

class QComboBox;
class QFrame;
class QLabel;
class TDfGradient;
class TColor95Button;

// A check box whose caption stands left of the box, as the dialog lays them out.
class CaptionLeftCheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& position) const override;
};

class TOptForm : public QDialog {
 public:
  // `system` shows the address warning (the platform's message box).
  explicit TOptForm(platform::Host& system, QWidget* parent = nullptr);

  // Fills the dialog from the settings of `link`.
  void LoadFrom(const ModuleLink& link);
  // Takes the dialog's values over into `link`.
  void StoreInto(ModuleLink& link) const;
  // The whole options flow: fill, show modally, take the values over on OK. True on OK.
  bool Edit(ModuleLink& link);

  // The two enabling rules.
  void CheckBox1Rule();
  void CheckBox3Rule();

  void Button1Click();  // "OK"

  TDfGradient* DfGradient1;
  QFrame* Panel1;
  CaptionLeftCheckBox* CheckBox3;
  QLabel* Label1;
  CaptionLeftCheckBox* CheckBox1;
  QComboBox* ComboBox1;
  CaptionLeftCheckBox* CheckBox2;
  TColor95Button* Button1;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // The dialog sees every key before the focused control, and the rules see their events.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // FormKeyPress: true when the key was taken (Enter, Escape).
  bool FormKeyPress(QKeyEvent* event);

  platform::Host& system_;
};

// The program's one options dialog (created at start-up).
extern TOptForm* OptForm;
