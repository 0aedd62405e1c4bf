#pragma once
// The program's version, compiled in where another platform would read the program file's
// version resource. Keep in step with project(palvoro VERSION ...) in the top CMakeLists.txt.

#include <cstdint>
#include <string>

namespace palvoro {

inline constexpr int kVersionMajor = 0;
inline constexpr int kVersionMinor = 1;
inline constexpr int kVersionPatch = 0;

// The most significant half of the file version: major in the high 16 bits, minor low.
inline constexpr std::uint32_t kFileVersionMS =
    (static_cast<std::uint32_t>(kVersionMajor) << 16) | static_cast<std::uint32_t>(kVersionMinor);

// The About box's version text, "%d.%d.%d": the high and the low 16 bits of the file
// version's most significant half, then 0 (file version 2.5.3.1 shows "2.5.0").
std::string aboutVersionText(std::uint32_t fileVersionMS = kFileVersionMS);

// "major.minor.patch", as the programs' --version and the package give it.
std::string programVersionText();

}  // namespace palvoro
