#include "discovery/drive_record.h"

#include <cstring>
#include <type_traits>

namespace palvoro {

static_assert(std::is_trivially_copyable_v<DriveRecord>);

void clearDriveTable(DriveTable& table) { table = DriveTable{}; }

std::string trimmedField(const char* field, size_t size) {
  std::string text(field, strnlen(field, size));
  text.erase(0, text.find_first_not_of(' '));
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

void keepPrintable(char* field, size_t size) {
  for (size_t i = 0; i < size && field[i] != '\0'; ++i) {
    const auto byte = static_cast<unsigned char>(field[i]);
    if (byte < 0x20 || byte > 0x7E) field[i] = kUnprintableDriveChar;
  }
}

}  // namespace palvoro
