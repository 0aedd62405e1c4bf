#include "discovery/format_capacity.h"

#include <cstdio>

namespace palvoro {

std::string FormatCapacity(uint32_t megabytes, int decimals) {
  // Room for the longest text, "4294967.2950 GB", and then some.
  char text[48] = {};
  if (megabytes <= 999) {
    std::snprintf(text, sizeof text, "%d MB", static_cast<int>(megabytes));
    return text;
  }
  const double gigabytes = megabytes / 1000.0;
  // Up to three decimals as asked; anything else is given four.
  const int precision = decimals >= 0 && decimals <= 3 ? decimals : 4;
  std::snprintf(text, sizeof text, "%.*lf GB", precision, gigabytes);
  return text;
}

}  // namespace palvoro
