#include "app/console_prompter.h"

#include <algorithm>
#include <cctype>

namespace palvoro {
namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  text.erase(0, text.find_first_not_of(" \t"));
  text.erase(text.find_last_not_of(" \t\r") + 1);
  return text;
}

const char* purposeWord(PromptPurpose::Kind kind) {
  switch (kind) {
    case PromptPurpose::Kind::Information: return "information";
    case PromptPurpose::Kind::Question: return "question";
    case PromptPurpose::Kind::DestroysData: return "destroys_data";
  }
  return "";
}

}  // namespace

nlohmann::ordered_json askedBoxJson(const AskedBox& box) {
  return {{"caption", box.caption},
          {"text", box.text},
          {"purpose", purposeWord(box.purpose.kind)},
          {"drive", box.drive ? nlohmann::ordered_json(*box.drive) : nlohmann::ordered_json(nullptr)},
          {"answer", box.answer},
          {"answered_by", box.by}};
}

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
                                 ConsoleLoop& loop)
    : m_answers(answers), m_input(std::move(input)), m_screen(screen), m_loop(loop) {}

void ConsolePrompter::setConfirmation(DriveConfirmation confirmation, Platform& platform) {
  m_confirmation = std::move(confirmation);
  m_platform = &platform;
}

PromptAnswer ConsolePrompter::ask(const std::string& text, const std::string& caption, PromptIcon,
                                  PromptButtons buttons, PromptAnswer defaultAnswer, PromptPurpose purpose) {
  if (m_loop.onLoopThread()) return askHere(text, caption, buttons, defaultAnswer, purpose);
  // The safe answer stands if the loop is gone before it could ask.
  PromptAnswer answer = safeAnswer(buttons);
  m_loop.call([&] { answer = askHere(text, caption, buttons, defaultAnswer, purpose); });
  return answer;
}

void ConsolePrompter::setDriveNumbering(std::function<std::optional<int>(int)> numberOf) {
  m_numberOf = std::move(numberOf);
}

bool ConsolePrompter::confirmed(int drive) {
  const DriveConfirmation& c = m_confirmation;
  if (!c.given) return false;
  if (drive < 0 || c.drive != drive) {
    m_screen.say("palvoro-cli: " + c.mismatch);
  } else if (!c.instance || m_platform == nullptr || driveInstanceAt(*m_platform, drive) != c.instance) {
    // Another drive, or the same one plugged in again, has the number since the option
    // named it: the user confirmed a drive that is no longer there.
    m_screen.say("palvoro-cli: " + c.shownDrive + " is no longer the drive " + c.option +
                 " named: it was pulled out or replaced since; nothing is done.");
  } else {
    return true;
  }
  return false;
}

void ConsolePrompter::record(const std::string& caption, const std::string& text, PromptPurpose purpose,
                             PromptAnswer answer, const std::string& by) {
  std::optional<int> drive;
  if (purpose.destroysData() && m_numberOf) drive = m_numberOf(purpose.drive);
  m_asked.push_back({caption, text, purpose, drive, answerWord(answer), by});
  if (m_screen.style() == ProgressStyle::Json) {
    nlohmann::ordered_json event = {{"event", by == "message" ? "message" : "question"}};
    event.update(askedBoxJson(m_asked.back()));
    m_screen.sayEvent(event);
  } else if (by != "message" && by != "terminal") {
    m_screen.say("  -> " + std::string(answerWord(answer)) + " (" + by + ")");
  }
}

PromptAnswer ConsolePrompter::askHere(const std::string& text, const std::string& caption, PromptButtons buttons,
                                      PromptAnswer defaultAnswer, PromptPurpose purpose) {
  if (m_screen.style() != ProgressStyle::Json) m_screen.say("[" + caption + "] " + text);
  if (buttons == PromptButtons::Ok) {
    record(caption, text, purpose, PromptAnswer::Ok, "message");
    return PromptAnswer::Ok;
  }
  const bool yesNo = buttons != PromptButtons::OkCancel;
  const PromptAnswer positive = yesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
  // Escape's answer: the one that leaves everything as it is.
  const PromptAnswer safe = safeAnswer(buttons);
  const PromptAnswer negative = yesNo ? PromptAnswer::No : PromptAnswer::Cancel;

  const bool destroys = purpose.destroysData();
  if (destroys) {
    if (m_confirmation.given) {
      if (confirmed(purpose.drive)) {
        record(caption, text, purpose, positive, m_confirmation.option);
        return positive;
      }
      m_refused = true;
      record(caption, text, purpose, safe, "refused");
      return safe;
    }
  } else if (m_answers.yes) {
    record(caption, text, purpose, positive, "--yes");
    return positive;
  }

  if (!m_input.interactive || !m_input.readLine) {
    const std::string answersIt = !destroys                       ? "--yes answers it."
                                  : m_confirmation.option.empty() ? "only a user at a terminal answers it."
                                                                  : m_confirmation.option + " SERIAL answers it.";
    m_screen.say("palvoro-cli: this question needs an answer and there is no terminal to ask on; " + answersIt);
    m_refused = true;
    record(caption, text, purpose, safe, "refused");
    return safe;
  }
  // Whoever answers reads the question first, in a JSON run too, where it is otherwise
  // told only with its answer.
  if (m_screen.style() == ProgressStyle::Json) m_screen.say("[" + caption + "] " + text);
  const std::optional<bool> typed =
      askTerminal(text, caption, yesNo, enterAnswer(purpose, buttons, defaultAnswer) == positive);
  if (!typed) {
    // Ctrl-C at a question is its Escape key, not the run's Cancel button.
    m_loop.forgetInterrupts();
    m_screen.say("");
    record(caption, text, purpose, safe, "terminal");
    return safe;
  }
  const PromptAnswer answer = *typed ? positive : negative;
  record(caption, text, purpose, answer, "terminal");
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
