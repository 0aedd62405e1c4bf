#include "platform/device_names.h"

#include <cctype>

#include "platform/win_types.h"

namespace palvoro {
namespace {

int digitsAt(const std::string& path, size_t from, size_t to) {
  if (to <= from || to - from > 3) return -1;
  int n = 0;
  for (size_t i = from; i < to; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(path[i]))) return -1;
    n = n * 10 + (path[i] - '0');
  }
  return n;
}

}  // namespace

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

bool equalsNoCase(const std::string& a, const std::string& b) { return a.size() == b.size() && startsWithNoCase(a, b); }

int physicalDriveNumberOf(const std::string& path) {
  static const std::string prefix = "\\\\.\\PhysicalDrive";
  if (!startsWithNoCase(path, prefix)) return -1;
  return digitsAt(path, prefix.size(), path.size());
}

int scsiPortNumberOf(const std::string& path) {
  static const std::string prefix = "\\\\.\\Scsi";
  if (!startsWithNoCase(path, prefix) || path.back() != ':') return -1;
  return digitsAt(path, prefix.size(), path.size() - 1);
}

char volumeLetterOf(const std::string& path) {
  if (path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && path[5] == ':' &&
      std::isalpha(static_cast<unsigned char>(path[4]))) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
  }
  return 0;
}

int64_t seekDistance(int32_t distanceLow, const int32_t* distanceHigh) {
  if (distanceHigh == nullptr) return distanceLow;
  return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                              static_cast<uint32_t>(distanceLow));
}

uint32_t movePosition(uint64_t& position, int64_t distance, uint32_t moveMethod, uint64_t size) {
  int64_t base = 0;
  if (moveMethod == FILE_CURRENT) {
    base = static_cast<int64_t>(position);
  } else if (moveMethod == FILE_END) {
    base = static_cast<int64_t>(size);
  } else if (moveMethod != FILE_BEGIN) {
    return ERROR_INVALID_PARAMETER;
  }
  if (base + distance < 0) return ERROR_NEGATIVE_SEEK;
  position = static_cast<uint64_t>(base + distance);
  return ERROR_SUCCESS;
}

uint32_t seekAnswer(uint64_t position, int32_t* distanceHigh) {
  if (distanceHigh != nullptr) *distanceHigh = static_cast<int32_t>(position >> 32);
  return static_cast<uint32_t>(position & 0xFFFFFFFFu);
}

}  // namespace palvoro
