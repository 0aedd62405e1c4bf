// Any bytes a volume label, a mount point, a log or a result page read back may hold, on
// their way to the terminal and into a JSON answer: the filter leaves nothing a terminal
// takes as a control and keeps what it leaves (filtering again changes nothing), the
// stream gives the same whatever pieces the text arrives in, and the JSON writer never
// throws and writes printable ASCII that reads back.

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "app/console_text.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  using palvoro::fuzz::check;
  if (size < 1) return 0;
  const size_t piece = data[0] % 7 + 1;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::string shown = printableText(text);
  check(printableText(shown) == shown, "what the filter leaves passes it unchanged");
  for (size_t i = 0; i < shown.size(); ++i) {
    const auto c = static_cast<unsigned char>(shown[i]);
    check(c >= 0x20 || c == '\n' || c == '\t', "no C0 control");
    check(c != 0x7F && c != 0x1B, "no DEL or ESC");
    check(!(c == 0xC2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(shown[i + 1]) <= 0x9F),
          "no C1 control");
  }

  std::ostringstream target;
  {
    PrintableStream stream(target);
    for (size_t at = 0; at < text.size(); at += piece) stream << text.substr(at, piece);
  }
  check(target.str() == shown, "the stream filters as the function does");

  const nlohmann::ordered_json document = {{"label", std::string(text)}, {"lines", {std::string(shown)}}};
  const std::string json = jsonText(document, static_cast<int>(piece) - 2);
  check(std::all_of(json.begin(), json.end(), [](char c) { return (c >= 0x20 && c <= 0x7E) || c == '\n'; }),
        "JSON is printable ASCII");
  const nlohmann::ordered_json back = nlohmann::ordered_json::parse(json, nullptr, false);
  check(!back.is_discarded(), "JSON reads back");
  check(back["lines"][0] == shown, "a printable text survives JSON whole");
  return 0;
}
