// palvoro-cli's answers about a drive whose model, serial and firmware are any bytes and
// whose volume's label and file system name are any text: `list` and `info` answer with
// status 0, their JSON documents read back, and neither the text tables nor anything on
// standard error carries a control character to the terminal.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "fuzz_check.h"
#include "platform/sim/sim_platform.h"

namespace {

using palvoro::fuzz::check;
using Json = nlohmann::json;

bool terminalSafe(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) return false;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      return false;
    }
  }
  return true;
}

// Up to `n` bytes of the input as a description's text (any bytes; the loader takes UTF-8,
// so a byte that is not becomes U+FFFD on the way in, as a kernel's name would reach us).
std::string takeText(size_t n, const uint8_t*& data, size_t& size) {
  const size_t k = std::min(n, size);
  std::string text(reinterpret_cast<const char*>(data), k);
  data += k;
  size -= k;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  // Words 10..19 serial, 23..26 firmware, 27..46 model: 68 bytes of IDENTIFY text.
  uint8_t strings[68] = {};
  const size_t k = std::min(sizeof strings, size);
  std::copy(data, data + k, strings);
  data += k;
  size -= k;
  Json words = Json::object();
  const int firstWords[] = {10, 23, 27};
  const int counts[] = {10, 4, 20};
  size_t at = 0;
  for (int area = 0; area < 3; ++area) {
    for (int i = 0; i < counts[area]; ++i, at += 2) {
      char word[8];
      std::snprintf(word, sizeof word, "0x%02X%02X", strings[at], strings[at + 1]);
      words[std::to_string(firstWords[area] + i)] = word;
    }
  }
  Json machine = {
      {"administrator", true},
      {"drives", {{{"number", 1}, {"identity", {{"sectors", 200000}, {"words", words}}}}}},
      {"volumes", {{{"letter", "D"}, {"drive", 1}, {"partition", 1}, {"start", 2048}, {"sectors", 100000},
                    {"fileSystem", takeText(32, data, size)}, {"label", takeText(32, data, size)}}}}};
  std::string description = machine.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::unique_ptr<sim::SimPlatform> platform;
  try {
    platform = std::make_unique<sim::SimPlatform>(sim::loadMachine(description));
  } catch (const std::exception&) {
    return 0;  // a text the description refuses (too long once made UTF-8)
  }
  const std::vector<std::vector<std::string>> commands = {
      {"list", "--json"}, {"info", "1", "--json"}, {"list"}, {"info", "1"}};
  for (const std::vector<std::string>& args : commands) {
    std::ostringstream out, err;
    check(runCli(args, out, err, CliTerminal{}, platform.get()) == kCliOk, "the command answers");
    check(terminalSafe(out.str()), "standard output is safe for a terminal");
    check(terminalSafe(err.str()), "standard error is safe for a terminal");
    if (args.back() == "--json") check(!Json::parse(out.str(), nullptr, false).is_discarded(), "JSON reads back");
  }
  return 0;
}
