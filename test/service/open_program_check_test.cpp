// OpenProgramCheck over the windows a simulated machine lists: the style mask, visibility
// and the title exclusions.

#include "service/open_program_check.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

int checkWith(const std::string& windows) {
  sim::SimPlatform platform(sim::loadMachine(R"({"name": "desk", "windows": [)" + windows + "]}"));
  return openProgramCheck(platform);
}

TEST(OpenProgramCheckTest, QualifyingWindowsAndTheOnesSkipped) {
  struct Case {
    const char* windows;
    int expected;
  };
  const Case cases[] = {
      {"", 0},
      {R"({"title": "Notepad", "visible": true, "style": "0x14CF0000"})", 1},
      // Each style bit of the mask alone qualifies a window.
      {R"({"title": "A", "visible": true, "style": "0x00C00000"})", 1},   // caption
      {R"({"title": "A", "visible": true, "style": "0x00080000"})", 1},   // system menu
      {R"({"title": "A", "visible": true, "style": "0x00040000"})", 1},   // sizing border
      {R"({"title": "A", "visible": true, "style": "0x00020000"})", 1},   // minimise box
      {R"({"title": "A", "visible": true, "style": "0x00010000"})", 1},   // maximise box
      {R"({"title": "Tool", "visible": true, "style": "0x96000000"})", 0},  // popup, no frame bits
      {R"({"title": "Notepad", "visible": false, "style": "0x04CF0000"})", 0},
      {R"({"title": "", "visible": true, "style": "0x14CF0000"})", 0},
      {R"({"title": "Start - Internet Explorer", "visible": true, "style": "0x14CF0000"})", 0},
      {R"({"title": "PALVORO - Select An Option", "visible": true, "style": "0x14CF0000"})", 0},
      {R"({"title": "Varnholt Steadwell Diagnostics - PALVORO for Windows", "visible": true, "style": "0x14CF0000"})",
       0},
      // The exclusions are case-sensitive.
      {R"({"title": "palvoro notes.txt - Editor", "visible": true, "style": "0x14CF0000"})", 1},
      {R"({"title": "internet explorer tips", "visible": true, "style": "0x14CF0000"})", 1},
      // A qualifying window after skipped ones still counts; the loop does not stop early.
      {R"({"title": "PALVORO", "visible": true, "style": "0x14CF0000"},
          {"title": "", "visible": true, "style": "0x14CF0000"},
          {"title": "Mail", "visible": true, "style": "0x14CF0000"})",
       1},
  };
  for (const Case& c : cases) EXPECT_EQ(checkWith(c.windows), c.expected) << c.windows;
}

TEST(OpenProgramCheckTest, OnlyTheFirst255CharactersOfATitleAreRead) {
  // Built by appending: GCC 12 misreads `literal + string + literal` of this length at -O2
  // as an overflow of the short-string buffer.
  std::string json = R"({"title": ")";
  json.append(255, 'x');
  json += R"(PALVORO", "visible": true, "style": "0x00C00000"})";
  EXPECT_EQ(checkWith(json), 1);
}

TEST(OpenProgramCheckTest, AMalformedWindowListIsRefused) {
  EXPECT_THROW(checkWith(R"({"title": "A", "shown": true})"), sim::MachineDescriptionError);
  EXPECT_THROW(checkWith(R"({"title": "A", "style": "0x1G"})"), sim::MachineDescriptionError);
}

}  // namespace
}  // namespace palvoro
