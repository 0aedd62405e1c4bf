#include "app/console_prompter.h"

#include <algorithm>
#include <cctype>

namespace palvoro {
namespace {

// The captions of the boxes whose yes destroys data.
constexpr const char* kEraseCaption = "ERASE";
constexpr const char* kRepairCaption = "REPAIR";

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  text.erase(0, text.find_first_not_of(" \t"));
  text.erase(text.find_last_not_of(" \t\r") + 1);
  return text;
}

}  // namespace

const char* answerWord(PromptAnswer answer) {
  switch (answer) {
    case PromptAnswer::Ok: return "OK";
    case PromptAnswer::Cancel: return "Cancel";
    case PromptAnswer::Yes: return "Yes";
    case PromptAnswer::No: return "No";
  }
  return "";
}

ConsolePrompter::ConsolePrompter(const CliAnswers& answers, CliInput input, ConsoleProgress& screen,
                                 ConsoleLoop& loop, std::function<std::string()> serial)
    : m_answers(answers), m_input(std::move(input)), m_screen(screen), m_loop(loop), m_serial(std::move(serial)) {}

PromptAnswer ConsolePrompter::ask(const std::string& text, const std::string& caption, PromptIcon,
                                  PromptButtons buttons, PromptAnswer defaultAnswer) {
  if (m_loop.onLoopThread()) return askHere(text, caption, buttons, defaultAnswer);
  // The safe answer stands if the loop is gone before it could ask.
  PromptAnswer answer = buttons == PromptButtons::Ok ? PromptAnswer::Ok
                        : buttons == PromptButtons::YesNo ? PromptAnswer::No
                                                          : PromptAnswer::Cancel;
  m_loop.call([&] { answer = askHere(text, caption, buttons, defaultAnswer); });
  return answer;
}

void ConsolePrompter::record(const std::string& caption, const std::string& text, PromptAnswer answer,
                             const std::string& by) {
  m_asked.push_back({caption, text, answerWord(answer), by});
  if (m_screen.style() == ProgressStyle::Json) {
    m_screen.sayEvent({{"event", by == "message" ? "message" : "question"},
                       {"caption", caption},
                       {"text", text},
                       {"answer", answerWord(answer)},
                       {"answered_by", by}});
  } else if (by != "message" && by != "terminal") {
    m_screen.say("  -> " + std::string(answerWord(answer)) + " (" + by + ")");
  }
}

PromptAnswer ConsolePrompter::askHere(const std::string& text, const std::string& caption, PromptButtons buttons,
                                      PromptAnswer defaultAnswer) {
  if (m_screen.style() != ProgressStyle::Json) m_screen.say("[" + caption + "] " + text);
  if (buttons == PromptButtons::Ok) {
    record(caption, text, PromptAnswer::Ok, "message");
    return PromptAnswer::Ok;
  }
  const bool yesNo = buttons != PromptButtons::OkCancel;
  const PromptAnswer positive = yesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
  // Escape's answer: the one that leaves everything as it is.
  const PromptAnswer safe = buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Cancel;
  const PromptAnswer negative = yesNo ? PromptAnswer::No : PromptAnswer::Cancel;

  const bool erase = caption == kEraseCaption;
  const bool repair = caption == kRepairCaption;
  if (erase || repair) {
    const std::string& given = erase ? m_answers.confirmErase : m_answers.confirmRepair;
    const std::string option = erase ? "--confirm-erase" : "--confirm-repair";
    if (!given.empty()) {
      const std::string serial = m_serial();
      if (!serial.empty() && given == serial) {
        record(caption, text, positive, option);
        return positive;
      }
      m_screen.say("palvoro-cli: " + option + " " + given + " does not match the drive's serial number \"" + serial +
                   "\"; nothing is done.");
      m_refused = true;
      record(caption, text, safe, "refused");
      return safe;
    }
  } else if (m_answers.yes) {
    record(caption, text, positive, "--yes");
    return positive;
  }

  if (!m_input.interactive || !m_input.readLine) {
    m_screen.say(std::string("palvoro-cli: this question needs an answer and there is no terminal to ask on; ") +
                 (erase    ? "--confirm-erase SERIAL answers it."
                  : repair ? "--confirm-repair SERIAL answers it."
                           : "--yes answers it."));
    m_refused = true;
    record(caption, text, safe, "refused");
    return safe;
  }
  const std::optional<bool> typed = askTerminal(text, caption, yesNo, defaultAnswer == positive);
  if (!typed) {
    // Ctrl-C at a question is its Escape key, not the run's Cancel button.
    m_loop.forgetInterrupts();
    m_screen.say("");
    record(caption, text, safe, "terminal");
    return safe;
  }
  const PromptAnswer answer = *typed ? positive : negative;
  record(caption, text, answer, "terminal");
  return answer;
}

std::optional<bool> ConsolePrompter::askTerminal(const std::string&, const std::string&, bool yesNo,
                                                 bool defaultPositive) {
  const std::string choices = yesNo ? (defaultPositive ? "[Y/n]" : "[y/N]") : (defaultPositive ? "[O/c]" : "[o/C]");
  for (;;) {
    m_screen.say(std::string(yesNo ? "Yes or No? " : "OK or Cancel? ") + choices);
    const std::optional<std::string> line = m_input.readLine();
    if (!line) return std::nullopt;
    const std::string word = lowered(*line);
    if (word.empty()) return defaultPositive;
    if (yesNo && (word == "y" || word == "yes")) return true;
    if (yesNo && (word == "n" || word == "no")) return false;
    if (!yesNo && (word == "o" || word == "ok")) return true;
    if (!yesNo && (word == "c" || word == "cancel")) return false;
  }
}

}  // namespace palvoro
