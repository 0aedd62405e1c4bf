#include "service/open_program_check.h"

#include <string>

namespace palvoro {

int openProgramCheck(Platform& platform) {
  int otherProgramsOpen = 0;
  // Every window is examined; the flag only ever goes from 0 to 1.
  for (const TopLevelWindow& window : platform.topLevelWindows()) {
    if (!window.visible || (window.style & kApplicationWindowStyles) == 0) continue;
    // GetWindowTextA with a 256-byte buffer reads at most 255 characters.
    const std::string title = window.title.substr(0, 255);
    if (title.empty()) continue;
    if (title.find("PALVORO") != std::string::npos) continue;
    if (title.find("Internet Explorer") != std::string::npos) continue;
    otherProgramsOpen = 1;
  }
  return otherProgramsOpen;
}

}  // namespace palvoro
