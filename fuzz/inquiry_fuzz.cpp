// Standard INQUIRY data and the unit serial number page of a SCSI device or a bridge, in
// both forms the identity takes: the texts stay within their fields.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "discovery/drive_record.h"
#include "discovery/inquiry_identity.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  ++data;
  --size;
  uint8_t inquiry[kInquiryBytes] = {};
  const size_t inquiryBytes = std::min(size, sizeof inquiry);
  std::memcpy(inquiry, data, inquiryBytes);
  uint8_t page[kVpdSerialPageBytes] = {};
  std::memcpy(page, data + inquiryBytes, std::min(size - inquiryBytes, sizeof page));

  DriveRecord record;
  std::memset(&record, 0xA5, sizeof record);
  record.busType = (flags & 2) != 0 ? kBusUsb : kBusScsi;
  const InquiryForm form = (flags & 1) != 0 ? InquiryForm::Enclosure : InquiryForm::GenericScsi;
  inquiryIdentityFromReplies(inquiry, form, (flags & 4) != 0 ? page : nullptr, record);
  fuzz::checkText(record.model, 40, "model");
  fuzz::checkText(record.serialNumber, 20, "serial number");
  fuzz::checkText(record.firmwareRevision, 8, "firmware revision");
  return 0;
}
