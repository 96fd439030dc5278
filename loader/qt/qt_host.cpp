#include "qt_host.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

QString DisplayText(const std::string& text) {
  QString shown = QString::fromStdString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

void QtHost::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtHost::ShowSystemMessage(const std::string& text, const std::string& title,
                               bool systemModal) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), DisplayText(text),
                  QMessageBox::Ok);
  box.setWindowModality(systemModal ? Qt::ApplicationModal : Qt::WindowModal);
  if (systemModal) box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.exec();
}

bool QtHost::AskRetry(const std::string& text) {
  QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), DisplayText(text));
  QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.addButton(QStringLiteral("&Abbrechen"), QMessageBox::RejectRole);
  box.setDefaultButton(ok);
  box.exec();
  return box.clickedButton() == ok;
}

void QtHost::Beep() {
  QApplication::beep();
}
