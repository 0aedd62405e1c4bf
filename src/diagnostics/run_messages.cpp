#include "diagnostics/run_messages.h"

#include <array>

#include "diagnostics/run_values.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

constexpr const char* kUnknownError = "%sUnknown error!";

// Index = TestError code. Codes 11 and 14 never reach a box, but the function still
// answers for them as for any code without a message.
constexpr std::array<const char*, 33> kMessages = {
    kUnknownError,                                                  // 0
    "%sSMART Return Status error!",                                 // 1
    kUnknownError,                                                  // 2 too many volumes
    "%sRead SMART Attribute command error on drive %d!",            // 3
    "%sCannot communicate with drive %d! Check device connection.",  // 4
    kUnknownError,                                                  // 5
    "%sSMART self-test did not complete on drive %d!",              // 6
    "%sSMART Offline Immediate command error on drive %d!",         // 7
    "%sRead sector error!",                                         // 8
    "%sWrite sector error!",                                        // 9
    "%sSet file pointer error!",                                    // 10
    kUnknownError,                                                  // 11 cable test
    nullptr,                                                        // 12 string 228
    nullptr,                                                        // 13 string 229
    kUnknownError,                                                  // 14 stopped
    "%sRead diagnostics sector error!",                             // 15
    kUnknownError,                                                  // 16
    "%sErase error!",                                               // 17
    "%sRead Verify Sector Ext error!",                              // 18
    "%sSMART Enable Operation error!",                              // 19
    "%sDelete Partitions error!",                                   // 20
    "%sTrim command failed!",                                       // 21
    "%sSanitize Device command is not supported!",                  // 22
    "%sSanitize Device Status failed!",                             // 23
    "%sSanitize Device Overwrite failed!",                          // 24
    "%sA Sanitize Device operation is already in progress!",        // 25
    "%sDrive %d reports a sector size that cannot be tested!",       // 26
    "%sThe size of drive %d could not be used!",                    // 27
    "%sDrive %d does not offer this erase method!",                 // 28
    "%sThe security of drive %d is frozen!",                        // 29
    "%sDrive %d is locked with a password!",                        // 30
    "%sDrive %d reported that its own erase failed!",               // 31
    "%sDrive %d still holds data the erase should have removed!",   // 32
};

// Fills the one "%s" and the one "%d" a message may hold. The prefix can carry text
// reported by the drive, so it is never used as a format itself.
std::string fill(const char* format, const std::string& prefix, int number) {
  std::string out;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out += prefix;
      ++p;
    } else if (p[0] == '%' && p[1] == 'd') {
      out += std::to_string(number);
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

std::string formatTestError(int code, const std::string& prefix, int driveIndexPlusOne) {
  if (code == kTestErrorTooManyBadSectors) return loadString(kStrTooManyBadSectors);
  if (code == kTestErrorRepairFailed) return loadString(kStrUnableToRepair);
  const char* format = (code >= 0 && code < static_cast<int>(kMessages.size()))
                           ? kMessages[static_cast<size_t>(code)]
                           : kUnknownError;
  return fill(format, prefix.empty() ? std::string(" ") : prefix, driveIndexPlusOne);
}

const char* testKindWord(int32_t testKind) {
  static constexpr const char* kWords[] = {"QUICK TEST", "EXTENDED TEST", "ERASE", "VIEW TEST RESULT"};
  if (testKind < 0 || testKind >= static_cast<int32_t>(std::size(kWords))) return "";
  return kWords[testKind];
}

const char* testKindPrefix(int32_t testKind) {
  switch (testKind) {
    case kTestKindQuick:
      return "Quick Test::";
    case kTestKindExtended:
      return "Extended Test::";
    case kTestKindErase:
      return "Erase::";
    default:
      return "";
  }
}

}  // namespace palvoro
