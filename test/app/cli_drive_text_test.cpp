// A drive whose model, serial and firmware hold what a malicious stick can put there:
// every command answers as for any drive, its JSON stays valid, and nothing it prints
// carries a control character to the terminal.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/console_text.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using Json = nlohmann::json;
using namespace std::string_literals;

// The texts as the drive sends them, and as every output must show them.
const std::string kHostileModel = "<img src=x><b>BOLD</b>\xFF\xC3\x1B[2J\a\r\"\\";
const std::string kHostileSerial = "S\x1B]0;pwn\aN\r1";
const std::string kHostileFirmware = "F\xFF\x01\x7F\0XYZ"s;
constexpr const char* kShownModel = "<img src=x><b>BOLD</b>???[2J??\"\\";
constexpr const char* kShownSerial = "S?]0;pwn?N?1";
constexpr const char* kShownFirmware = "F???";

// `text`, padded with blanks to `count` words, as raw IDENTIFY words from `first`: two
// characters a word, the first in the high byte. Raw words are the only way a description
// carries bytes that are not UTF-8.
void putAtaText(Json& words, int first, int count, std::string text) {
  text.resize(static_cast<size_t>(2 * count), ' ');
  for (int i = 0; i < count; ++i) {
    const auto hi = static_cast<uint8_t>(text[static_cast<size_t>(2 * i)]);
    const auto lo = static_cast<uint8_t>(text[static_cast<size_t>(2 * i + 1)]);
    char word[8];
    std::snprintf(word, sizeof word, "0x%04X", (hi << 8) | lo);
    words[std::to_string(first + i)] = word;
  }
}

// The showcase machine whose Kestrel (drive 4, behind a USB bridge) reports the hostile
// texts, cut to 150 MB, with a volume whose label and file system name carry terminal
// controls.
std::string hostileMachine() {
  Json m = Json::parse(sim::builtinMachineDescription("showcase"));
  for (Json& d : m["drives"]) {
    if (d["number"] != 4) continue;
    Json& identity = d["identity"];
    identity["sectors"] = 300'000;
    Json words = Json::object();
    putAtaText(words, 27, 20, kHostileModel);
    putAtaText(words, 10, 10, kHostileSerial);
    putAtaText(words, 23, 4, kHostileFirmware);
    identity["words"] = words;
  }
  for (Json& v : m["volumes"]) {
    if (!v.contains("drive") || v["drive"] != 4) continue;
    v["sectors"] = 300'000 - 4096;
    v["fileSystem"] = "\x1b[1mFAT\a";
    v["label"] = "\x1b]0;owned\a\r\xc2\x9b" "2J";
  }
  return m.dump();
}

// Whether `text` holds a byte a terminal takes as a control: C0 but line feed, DEL, or
// anything outside ASCII (the texts here are ASCII once shown) but the degree sign of the
// program's own temperature words.
bool holdsControl(const std::string& text) {
  const std::string degree = "\u00B0";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, degree.size(), degree) == 0) {
      i += degree.size() - 1;
      continue;
    }
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte < 0x20 && byte != '\n') || byte >= 0x7F) return true;
  }
  return false;
}

TEST(CliDriveTextTest, HostileDriveTextsLeaveEveryAnswerValidAndPrintable) {
  const auto dir = std::filesystem::temp_directory_path() / ("palvoro-cli-text-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string description = hostileMachine();
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"list", "--json"}, kCliOk},
      {{"info", "4", "--json"}, kCliOk},
      {{"smart", "4", "--json"}, kCliOk},
      {{"erase", "4", "--json", "--mode", "quick", "--confirm-erase", kShownSerial}, kCliOk},
      {{"list"}, kCliOk},
      {{"info", "4"}, kCliOk},
      {{"erase", "4", "--mode", "quick", "--confirm-erase", kShownSerial}, kCliOk},
  };
  for (const Case& c : cases) {
    const bool json = std::find(c.args.begin(), c.args.end(), "--json") != c.args.end();
    const std::string name = c.args[0] + (json ? " --json" : "");
    sim::SimPlatform platform(sim::loadMachine(description));
    platform.followWallClock();
    std::vector<std::string> args = {"--results-dir", dir.string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::ostringstream out, err;
    CliTerminal terminal;
    terminal.timerMilliseconds = 20;
    EXPECT_EQ(runCli(args, out, err, terminal, &platform), c.status) << name << "\n" << err.str();
    EXPECT_FALSE(holdsControl(out.str())) << name << "\n" << out.str();
    EXPECT_FALSE(holdsControl(err.str())) << name << "\n" << err.str();
    if (!json) {
      EXPECT_NE(out.str().find(kShownModel), std::string::npos) << name << "\n" << out.str();
      continue;
    }
    const Json doc = Json::parse(out.str(), nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << name << "\n" << out.str();
    const Json& drive = doc.contains("drives") ? doc["drives"][3] : doc.contains("drive") ? doc["drive"] : Json();
    if (!drive.is_null()) {
      EXPECT_EQ(drive["model"], kShownModel) << name;
      EXPECT_EQ(drive["serial"], kShownSerial) << name;
      EXPECT_EQ(drive["firmware"], kShownFirmware) << name;
    }
    if (c.args[0] == "erase") {
      EXPECT_EQ(doc["result"]["test_state"], "COMPLETE");
    }
  }
  // The result page the erases wrote shows the model as text, never as markup.
  std::ifstream page(dir / "Tovrin.htm", std::ios::binary);
  std::stringstream html;
  html << page.rdbuf();
  EXPECT_NE(html.str().find("&lt;img src=x&gt;&lt;b&gt;BOLD&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(html.str().find("<img src=x>"), std::string::npos);
  std::filesystem::remove_all(dir);
}

// The filter every terminal text passes: layout stays, every control and every byte that
// is not well-formed UTF-8 becomes '?', printable UTF-8 stays whole.
TEST(CliDriveTextTest, PrintableTextMarksEveryControlAndKeepsPrintableUtf8) {
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"Model\tSerial\n", "Model\tSerial\n"},
      {"\x1b]0;title\a\x1b[2K\r", "?]0;title??[2K?"},
      {"a\0b\x7f"s, "a?b?"},
      {"C1 \xc2\x9b" "2J \xc2\x85", "C1 ?2J ?"},               // CSI and NEL as UTF-8
      {"raw \x9b\x1b", "raw ??"},                              // CSI as one byte
      {"/media/j\xc3\xbcrgen 20\xc2\xb0" "C", "/media/j\xc3\xbcrgen 20\xc2\xb0" "C"},
      {"cut \xc3", "cut ?"},
      {"overlong \xc0\xaf \xe0\x80\xaf", "overlong ?? ???"},
      {"surrogate \xed\xa0\x80", "surrogate ???"},
      {"bidi \xe2\x80\xae" "evil\xe2\x81\xa9", "bidi ?evil?"},
      {"emoji \xf0\x9f\x92\xbe", "emoji \xf0\x9f\x92\xbe"},
      {"beyond \xf4\x90\x80\x80", "beyond ????"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(printableText(c.text), c.shown) << c.text;
    // The same through the stream, in pieces that cut characters in half.
    std::ostringstream target;
    {
      PrintableStream stream(target);
      for (const char byte : c.text) stream << byte;
    }
    EXPECT_EQ(target.str(), c.shown) << c.text;
  }
  EXPECT_EQ(jsonText(nlohmann::ordered_json{{"t", "\xff\x1b\xc3\xa9"}}), R"({"t":"\ufffd\u001b\u00e9"})");
}

}  // namespace
}  // namespace palvoro
