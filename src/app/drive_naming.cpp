#include "app/drive_naming.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

#include "discovery/format_capacity.h"

namespace palvoro {
namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string serialOf(const DriveRecord& r) { return trimmedField(r.serialNumber, sizeof r.serialNumber); }
std::string modelOf(const DriveRecord& r) { return trimmedField(r.model, sizeof r.model); }

// Empty, or one character over and over: what enclosures report for want of a serial number.
bool meaningless(const std::string& serial) {
  return serial.empty() || serial.find_first_not_of(serial.front()) == std::string::npos;
}

// "drive 3 (USB Disk, 16.01 GB)".
std::string described(const DriveTable& table, int index) {
  const DriveRecord& r = table.records[index];
  return "drive " + std::to_string(index + 1) + " (" + modelOf(r) + ", " + driveCapacityText(r) + ")";
}

std::vector<int> drivesReporting(const DriveTable& table, const std::string& serial) {
  std::vector<int> found;
  for (int i = 0; i < table.driveCount(); ++i) {
    if (serialOf(table.records[i]) == serial) found.push_back(i);
  }
  return found;
}

// Why `serial` names no one drive, with the drives that report it and what names each
// instead; empty when it names one drive or none.
std::string ambiguity(const DriveTable& table, const std::string& serial, const std::vector<int>& reporting,
                      const std::string& confirmOption) {
  if (!meaningless(serial) && reporting.size() <= 1) return "";
  std::string text = "the serial number \"" + serial + "\" does not name one drive: ";
  text += serial.empty()           ? "it is empty"
          : reporting.size() > 1 ? std::to_string(reporting.size()) + " drives report it"
                                 : "it is one character repeated";
  if (!reporting.empty()) {
    text += " (";
    for (size_t i = 0; i < reporting.size(); ++i) text += (i == 0 ? "" : ", ") + described(table, reporting[i]);
    text += ")";
  }
  text += ". Name the drive by its number N instead, and confirm an erase or a repair with its number, model and "
          "capacity";
  if (!reporting.empty()) {
    text += ", as in " + confirmOption + " \"" + confirmationName(table, reporting.back()) + "\"";
  }
  return text + ".";
}

}  // namespace

std::string driveCapacityText(const DriveRecord& r) {
  const uint64_t bytes = r.identifiedSectors * static_cast<uint64_t>(static_cast<uint32_t>(std::max(r.sectorSize, 0)));
  const uint64_t megabytes = bytes / 1000000;
  return FormatCapacity(megabytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(megabytes), 2);
}

std::string confirmationName(const DriveTable& table, int index) {
  const DriveRecord& r = table.records[index];
  return std::to_string(index + 1) + ":" + modelOf(r) + ":" + driveCapacityText(r);
}

NamedDrive driveBySerial(const DriveTable& table, const std::string& given, const std::string& confirmOption) {
  const std::string serial = trimmed(given);
  const std::vector<int> reporting = drivesReporting(table, serial);
  if (std::string why = ambiguity(table, serial, reporting, confirmOption); !why.empty()) {
    return {NamedDrive::Outcome::Ambiguous, -1, why, false};
  }
  if (reporting.empty()) return {NamedDrive::Outcome::NoSuch, -1, "no drive has the serial number " + given, false};
  return {NamedDrive::Outcome::Named, reporting.front(), "", false};
}

NamedDrive driveByConfirmation(const DriveTable& table, const std::string& given, const std::string& option) {
  // N:MODEL:CAPACITY. A model may hold colons, a capacity and a number never do.
  const size_t first = given.find(':');
  const size_t last = given.rfind(':');
  const std::string number = trimmed(given.substr(0, first));
  const bool numberForm = first != std::string::npos && first != last && !number.empty() && number.size() <= 3 &&
                          std::all_of(number.begin(), number.end(), [](unsigned char c) { return std::isdigit(c); });
  if (!numberForm) return driveBySerial(table, given, option);

  const int index = std::stoi(number) - 1;
  if (index < 0 || index >= table.driveCount()) {
    return {NamedDrive::Outcome::NoSuch, -1, option + " \"" + given + "\" names no drive: there is no drive " + number,
            true};
  }
  const DriveRecord& r = table.records[index];
  const std::string model = trimmed(given.substr(first + 1, last - first - 1));
  const std::string capacity = trimmed(given.substr(last + 1));
  if (model != modelOf(r) || capacity != driveCapacityText(r)) {
    return {NamedDrive::Outcome::NoSuch, -1,
            option + " \"" + given + "\" does not describe drive " + number + ", which is " + modelOf(r) +
                " with " + driveCapacityText(r),
            true};
  }
  return {NamedDrive::Outcome::Named, index, "", true};
}

}  // namespace palvoro
