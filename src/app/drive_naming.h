#pragma once
// How the command line names a drive: by its number as listed; by its serial number while
// that names exactly one drive; and, to confirm an erase or a repair, by the serial number
// or by number, model and capacity together ("3:USB Disk:16.01 GB"). Cheap enclosures
// report one serial number for every unit they hold ("0000000000", blanks), so a serial
// number that is empty, one character repeated or reported by two drives names none.

#include <string>

#include "discovery/drive_record.h"

namespace palvoro {

// The capacity as the drive list shows it: "1,000.20 GB".
std::string driveCapacityText(const DriveRecord& record);

// What a name given on the command line names.
struct NamedDrive {
  enum class Outcome {
    Named,      // `index` is the drive
    NoSuch,     // no drive answers to it
    Ambiguous,  // it cannot tell drives apart: `message` says which share it and what to give instead
  };
  Outcome outcome = Outcome::NoSuch;
  int index = -1;       // in the drive table
  std::string message;  // NoSuch and Ambiguous: the sentence for the user
  bool byNumber = false;  // named by N:MODEL:CAPACITY rather than by serial number
};

// --serial S. An ambiguous serial's message shows how `confirmOption` names the drive.
NamedDrive driveBySerial(const DriveTable& table, const std::string& serial,
                         const std::string& confirmOption = "--confirm-erase");
// --confirm-erase or --confirm-repair (`option`) with `given`: N:MODEL:CAPACITY when it has
// that form, a serial number otherwise. A number form that does not describe drive N
// names no drive (NoSuch, with the reason).
NamedDrive driveByConfirmation(const DriveTable& table, const std::string& given, const std::string& option);

// "3:USB Disk:16.01 GB": what names the drive at `index` in a confirmation.
std::string confirmationName(const DriveTable& table, int index);

}  // namespace palvoro
