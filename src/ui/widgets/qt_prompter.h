#pragma once
// The prompter of the program: a QMessageBox on the GUI thread. Asked from another thread
// the call waits until the user has answered.

#include <QObject>

#include "platform/prompter.h"
#include "ui/widgets/gui_call_queue.h"

namespace palvoro {

class QtPrompter : public QObject, public Prompter {
  Q_OBJECT

 public:
  // Lives on the thread that creates it, which must be the GUI thread.
  explicit QtPrompter(QObject* parent = nullptr);

  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon icon,
                   PromptButtons buttons) override;

  // Shows the box on the calling (GUI) thread and returns the answer.
  static PromptAnswer showBox(const std::string& text, const std::string& caption, PromptIcon icon,
                              PromptButtons buttons);

 private:
  GuiCallQueue m_queue;
};

}  // namespace palvoro
