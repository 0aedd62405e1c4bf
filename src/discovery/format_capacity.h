#pragma once
// The capacity text of the drive and volume lists.

#include <cstdint>
#include <string>

namespace palvoro {

// A capacity in decimal megabytes (1,000,000 bytes) as text: up to 999 as "999 MB",
// larger values as decimal gigabytes with `decimals` places (0 to 3; any other value
// gives 4), rounded as printf rounds. Drive lists use 0 places, volume sizes 2.
std::string FormatCapacity(uint32_t megabytes, int decimals);

}  // namespace palvoro
