#include "resources/version.h"

#include <cstdio>

namespace palvoro {

std::string aboutVersionText(std::uint32_t fileVersionMS) {
  char text[32];
  std::snprintf(text, sizeof text, "%d.%d.%d", static_cast<int>(fileVersionMS >> 16),
                static_cast<int>(fileVersionMS & 0xFFFFu), 0);
  return text;
}

std::string programVersionText() {
  return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." + std::to_string(kVersionPatch);
}

}  // namespace palvoro
