#pragma once
// The prompter of the program: a QMessageBox on the GUI thread. Asked from another thread
// the call waits until the user has answered.

#include <QObject>

class QWidget;

#include "platform/prompter.h"
#include "ui/widgets/gui_call_queue.h"

namespace palvoro {

class QtPrompter : public QObject, public Prompter {
  Q_OBJECT

 public:
  // Lives on the thread that creates it, which must be the GUI thread.
  explicit QtPrompter(QObject* parent = nullptr);

  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon icon,
                   PromptButtons buttons, PromptAnswer defaultAnswer, PromptPurpose purpose) override;

  // Shows the box on the calling (GUI) thread and returns the answer: every message box
  // of the program is shown here, with `defaultAnswer` on the button Enter presses, or
  // the safe answer when the box destroys data. Without a parent it sits over the active
  // window.
  static PromptAnswer showBox(const std::string& text, const std::string& caption, PromptIcon icon,
                              PromptButtons buttons, PromptAnswer defaultAnswer, PromptPurpose purpose,
                              QWidget* parent = nullptr);

 private:
  GuiCallQueue m_queue;
};

}  // namespace palvoro
