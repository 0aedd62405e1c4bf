// IDENTIFY DEVICE data as any drive or bridge may return it: the texts stay within their
// fields whatever the bytes, with and without the data log capability.

#include <cstdint>
#include <cstring>

#include "discovery/drive_record.h"
#include "discovery/identify.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  if (size < 1) return 0;
  uint8_t reply[kIdentifyBytes] = {};
  std::memcpy(reply, data + 1, std::min(size - 1, sizeof reply));
  // Garbage in every field first, so a text the parser forgot to terminate shows.
  DriveRecord record;
  std::memset(&record, 0xA5, sizeof record);
  parseIdentifyReply(reply, record, (data[0] & 1) != 0);
  fuzz::checkText(record.model, 40, "model");
  fuzz::checkText(record.serialNumber, 20, "serial number");
  fuzz::checkText(record.firmwareRevision, 8, "firmware revision");
  return 0;
}
