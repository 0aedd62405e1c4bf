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
  // Literal formats in every branch, so the compiler checks each against its argument.
  switch (decimals) {
    case 0:
      std::snprintf(text, sizeof text, "%.0lf GB", gigabytes);
      break;
    case 1:
      std::snprintf(text, sizeof text, "%.1lf GB", gigabytes);
      break;
    case 2:
      std::snprintf(text, sizeof text, "%.2lf GB", gigabytes);
      break;
    case 3:
      std::snprintf(text, sizeof text, "%.3lf GB", gigabytes);
      break;
    default:
      std::snprintf(text, sizeof text, "%.4lf GB", gigabytes);
      break;
  }
  return text;
}

}  // namespace palvoro
