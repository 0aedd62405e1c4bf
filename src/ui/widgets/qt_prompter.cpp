#include "ui/widgets/qt_prompter.h"

#include <QApplication>
#include <QMessageBox>

#include "ui/widgets/message_box_mapping.h"

namespace palvoro {

QtPrompter::QtPrompter(QObject* parent) : QObject(parent) {}

PromptAnswer QtPrompter::showBox(const std::string& text, const std::string& caption, PromptIcon icon,
                                 PromptButtons buttons, PromptAnswer defaultAnswer, PromptPurpose purpose,
                                 QWidget* parent) {
  QMessageBox box(boxIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  boxButtons(buttons), parent != nullptr ? parent : QApplication::activeWindow());
  // A message may quote a drive's model or a volume's label: never markup.
  box.setTextFormat(Qt::PlainText);
  // Qt would otherwise make the first accepting button (Yes, OK) the default.
  box.setDefaultButton(boxButton(enterAnswer(purpose, buttons, defaultAnswer)));
  switch (box.exec()) {
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::No: return PromptAnswer::No;
    case QMessageBox::Cancel: return PromptAnswer::Cancel;
    case QMessageBox::Ok: return PromptAnswer::Ok;
    default: break;
  }
  // Closed by Escape or the title bar.
  return safeAnswer(buttons);
}

PromptAnswer QtPrompter::ask(const std::string& text, const std::string& caption, PromptIcon icon,
                             PromptButtons buttons, PromptAnswer defaultAnswer, PromptPurpose purpose) {
  // On the GUI thread the box is shown at once; a worker waits for it. The call is dropped
  // only when the prompter goes first: the worker then gets the box's escape answer, the
  // answer that stops rather than proceeds.
  PromptAnswer answer = PromptAnswer::Cancel;
  if (!m_queue.call([&] { answer = showBox(text, caption, icon, buttons, defaultAnswer, purpose); })) {
    return safeAnswer(buttons);
  }
  return answer;
}

}  // namespace palvoro
