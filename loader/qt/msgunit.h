// The message dialog through which an update tells its results and errors: a text, a title
// and "OK".
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class TDfGradient;
class TColor95Button;

class TMessageForm : public QDialog {
 public:
  explicit TMessageForm(QWidget* parent = nullptr);

  // Sets the text and the window caption, shows the dialog modally and returns when it has
  // been closed ("OK", Space, Enter, Escape or the close box).
  void ShowMessageForm(const std::string& text, const std::string& title);

  void Button1Click();

  TDfGradient* DfGradient1;
  QLabel* Label1;
  TColor95Button* Button1;

 protected:
  void keyPressEvent(QKeyEvent* event) override;  // FormKeyPress
  void showEvent(QShowEvent* event) override;
};

// The program's one message dialog (created at start-up).
extern TMessageForm* MessageForm;

// Shows `text` with the caption `title` in the program's message dialog and returns when the
// user has closed it.
void ShowMessageForm(const std::string& text, const std::string& title);
