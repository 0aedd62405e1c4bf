// Who answers a box on the terminal, decided by what the box is for: a question that
// destroys data is never answered by --yes, by a default or for want of a terminal, and a
// confirm option answers only such questions, and only for the drive it named as that
// drive still is.

#include "app/console_prompter.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

constexpr int kNamed = 2;  // the drive the confirm option named
constexpr int kOther = 3;

std::unique_ptr<sim::SimPlatform> twoDrives() {
  return std::make_unique<sim::SimPlatform>(sim::loadMachine(R"({"drives": [
      {"number": 2, "identity": {"model": "Twin", "serial": "0000000000", "sectors": 1000}},
      {"number": 3, "identity": {"model": "Twin", "serial": "0000000000", "sectors": 1000}}]})"));
}

TEST(ConsolePrompterTest, OnlyTheConfirmOptionOfTheNamedDriveAsItStillIsAnswersAQuestionThatDestroysData) {
  enum class Confirm { None, Named, NamedThenReplugged };
  enum class Input { None, Enter, Typed };
  struct Case {
    const char* name;
    PromptPurpose purpose;
    PromptButtons buttons;
    PromptAnswer defaultAnswer;
    bool yes;
    Confirm confirm;
    Input input;
    ProgressStyle style;
    PromptAnswer expected;
    const char* by;
  };
  const PromptPurpose question = PromptPurpose::question();
  const PromptPurpose destroysNamed = PromptPurpose::destroysDataOn(kNamed);
  const PromptPurpose destroysOther = PromptPurpose::destroysDataOn(kOther);
  constexpr auto YesNo = PromptButtons::YesNo;
  constexpr auto OkCancel = PromptButtons::OkCancel;
  constexpr auto Yes = PromptAnswer::Yes;
  constexpr auto No = PromptAnswer::No;
  constexpr auto Ok = PromptAnswer::Ok;
  constexpr auto Cancel = PromptAnswer::Cancel;
  constexpr auto Lines = ProgressStyle::Lines;
  constexpr auto Json = ProgressStyle::Json;
  const Case cases[] = {
      {"MessageIsShown", PromptPurpose::information(), PromptButtons::Ok, Ok, false, Confirm::None, Input::None, Lines,
       Ok, "message"},
      {"YesAnswersAQuestion", question, YesNo, No, true, Confirm::None, Input::None, Lines, Yes, "--yes"},
      {"YesNeverDestroys", destroysNamed, YesNo, Yes, true, Confirm::None, Input::None, Lines, No, "refused"},
      {"YesNeverDestroysInJson", destroysNamed, YesNo, Yes, true, Confirm::None, Input::None, Json, No, "refused"},
      {"YesNeverDestroysAnOkBox", destroysNamed, OkCancel, Ok, true, Confirm::None, Input::None, Lines, Cancel,
       "refused"},
      {"EnterNeverDestroys", destroysNamed, YesNo, Yes, true, Confirm::None, Input::Enter, Lines, No, "terminal"},
      {"EnterNeverDestroysAnOkBox", destroysNamed, OkCancel, Ok, false, Confirm::None, Input::Enter, Lines, Cancel,
       "terminal"},
      {"EnterTakesTheQuestionsDefault", question, OkCancel, Ok, false, Confirm::None, Input::Enter, Lines, Ok,
       "terminal"},
      {"TheUserMayDestroy", destroysNamed, YesNo, No, false, Confirm::None, Input::Typed, Lines, Yes, "terminal"},
      {"TheUserReadsWhatIsAskedInJson", destroysNamed, YesNo, No, false, Confirm::None, Input::Typed, Json, Yes,
       "terminal"},
      {"ConfirmAnswersItsDrive", destroysNamed, YesNo, No, false, Confirm::Named, Input::None, Json, Yes,
       "--confirm-erase"},
      {"ConfirmOutranksTheTerminal", destroysNamed, OkCancel, Cancel, false, Confirm::Named, Input::Typed, Lines, Ok,
       "--confirm-erase"},
      {"ConfirmNeverAnswersAnotherDrive", destroysOther, YesNo, No, true, Confirm::Named, Input::Typed, Lines, No,
       "refused"},
      {"ConfirmNeverAnswersTheDriveReplugged", destroysNamed, YesNo, No, true, Confirm::NamedThenReplugged,
       Input::Typed, Lines, No, "refused"},
      {"ConfirmNeverAnswersAQuestion", question, OkCancel, Cancel, false, Confirm::Named, Input::None, Lines, Cancel,
       "refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto platform = twoDrives();
    std::ostringstream err;
    ConsoleLoop loop;
    ConsoleProgress screen(err, c.style, 80, loop, 20, [] { return 0.0; });
    CliInput input;
    input.interactive = c.input != Input::None;
    input.readLine = [&c]() -> std::optional<std::string> { return c.input == Input::Enter ? "" : "y"; };
    CliAnswers answers;
    answers.yes = c.yes;
    ConsolePrompter prompter(answers, input, screen, loop);
    DriveConfirmation confirmation;
    confirmation.option = "--confirm-erase";
    confirmation.shownDrive = "drive 1";
    confirmation.mismatch = "--confirm-erase names drive 1, not drive 2; nothing is done.";
    if (c.confirm != Confirm::None) {
      confirmation.given = true;
      confirmation.drive = kNamed;
      confirmation.instance = driveInstanceAt(*platform, kNamed);
      ASSERT_TRUE(confirmation.instance);
    }
    prompter.setConfirmation(confirmation, *platform);
    if (c.confirm == Confirm::NamedThenReplugged) {
      platform->machine().plug(kNamed, false);
      platform->machine().plug(kNamed, true);
    }

    EXPECT_EQ(prompter.ask("Erase?", "ERASE", PromptIcon::Warning, c.buttons, c.defaultAnswer, c.purpose), c.expected);
    ASSERT_EQ(prompter.asked().size(), 1u);
    EXPECT_EQ(prompter.asked()[0].by, c.by);
    EXPECT_EQ(prompter.refused(), std::string(c.by) == "refused");
    // Whoever answers at the terminal has read the question first.
    if (std::string(c.by) == "terminal") {
      const std::string shown = err.str();
      EXPECT_LT(shown.find("Erase?"), shown.find(" or ")) << shown;
    }
  }
}

}  // namespace
}  // namespace palvoro
