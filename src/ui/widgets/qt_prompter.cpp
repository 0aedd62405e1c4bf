#include "ui/widgets/qt_prompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include "ui/widgets/message_box_mapping.h"

namespace palvoro {

QtPrompter::QtPrompter(QObject* parent) : QObject(parent) {}

PromptAnswer QtPrompter::showBox(const std::string& text, const std::string& caption, PromptIcon icon,
                                 PromptButtons buttons) {
  QMessageBox box(boxIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  boxButtons(buttons), QApplication::activeWindow());
  switch (box.exec()) {
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::No: return PromptAnswer::No;
    case QMessageBox::Cancel: return PromptAnswer::Cancel;
    case QMessageBox::Ok: return PromptAnswer::Ok;
    default: break;
  }
  // Closed by Escape or the title bar: the box's escape answer.
  return buttons == PromptButtons::Ok ? PromptAnswer::Ok
         : buttons == PromptButtons::YesNo ? PromptAnswer::No
                                            : PromptAnswer::Cancel;
}

PromptAnswer QtPrompter::ask(const std::string& text, const std::string& caption, PromptIcon icon,
                             PromptButtons buttons) {
  if (QThread::currentThread() == thread()) return showBox(text, caption, icon, buttons);
  PromptAnswer answer = PromptAnswer::Cancel;
  QMetaObject::invokeMethod(
      this, [&] { answer = showBox(text, caption, icon, buttons); }, Qt::BlockingQueuedConnection);
  return answer;
}

}  // namespace palvoro
