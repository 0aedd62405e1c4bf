#pragma once
// What every backend reads the same way: the device names a program opens, and where a
// seek on a device lands.

#include <cstdint>
#include <string>

namespace palvoro {

[[nodiscard]] bool startsWithNoCase(const std::string& text, const std::string& prefix);
[[nodiscard]] bool equalsNoCase(const std::string& a, const std::string& b);

// "\\.\PhysicalDriveN" -> N (at most three digits), or -1.
[[nodiscard]] int physicalDriveNumberOf(const std::string& path);
// "\\.\ScsiN:" -> N (at most three digits), or -1.
[[nodiscard]] int scsiPortNumberOf(const std::string& path);
// "\\.\C:" -> 'C', or 0.
char volumeLetterOf(const std::string& path);

// The 64-bit distance of a setFilePointer call: the low part alone when there is no high
// part, as the call defines it.
int64_t seekDistance(int32_t distanceLow, const int32_t* distanceHigh);
// Moves `position` on a device of `size` bytes. Returns 0, or the last error: an unknown
// move method, or a position before the beginning.
uint32_t movePosition(uint64_t& position, int64_t distance, uint32_t moveMethod, uint64_t size);
// The new position as setFilePointer answers it: the low half returned, the high half
// stored through `distanceHigh` when there is one.
uint32_t seekAnswer(uint64_t position, int32_t* distanceHigh);

}  // namespace palvoro
