#include "discovery/inquiry_identity.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/scsi_transport.h"
#include "discovery/identify.h"

namespace palvoro {
namespace {

// Standard INQUIRY data (SPC): 8..15 vendor identification, 16..31 product
// identification, 32..35 product revision level, 36 on vendor specific.
constexpr size_t kVendorOffset = 8;
constexpr size_t kVendorBytes = 8;
constexpr size_t kProductOffset = 16;
constexpr size_t kProductBytes = 16;
constexpr size_t kRevisionOffset = 32;
constexpr size_t kRevisionBytes = 4;

// Where the vendor-specific bytes hold a serial number.
constexpr size_t kEnclosureSerialOffset = 40;   // the maker's bridges and enclosure
constexpr size_t kEnclosureSerialBytes = 16;
constexpr size_t kSeagateSerialOffset = 36;
constexpr size_t kSeagateSerialBytes = 8;
constexpr size_t kVarnhlSerialOffset = 36;
constexpr size_t kVarnhlSerialBytes = 18;
constexpr size_t kTag905Offset = 36;            // FireWire bridges marked "905" here ...
constexpr size_t kTag905SerialOffset = 40;      // ... keep the serial here
constexpr size_t kTag905SerialBytes = 16;

// VPD 80h: byte 1 page code, 3 page length, serial from byte 4.
constexpr size_t kVpdPageCode = 1;
constexpr size_t kVpdSerialOffset = 4;
constexpr size_t kVpdSerialMaxChars = 64;
constexpr size_t kVpdSerialCut = 68;

constexpr size_t kModelMaxChars = 40;
constexpr size_t kSerialMaxChars = 20;

// A field of the record set from a zero-terminated text as it stands, cut to `maxChars`
// and to the field's width, the rest of the field zeroed. No trimming: a cut may leave a
// blank at the end, as the stored text then has it.
template <size_t N>
void setField(char (&field)[N], const char* text, size_t maxChars) {
  std::memset(field, 0, N);
  std::memcpy(field, text, std::min({std::strlen(text), maxChars, N - 1}));
}

// The model: vendor and product, each trimmed, joined by one blank, at most 40 characters.
void storeVendorProductModel(const uint8_t (&inquiry)[kInquiryBytes], DriveRecord& record,
                             char (&vendor)[kVendorBytes + 1]) {
  char product[kProductBytes + 1];
  storeReplyText(inquiry + kVendorOffset, kVendorBytes, kVendorBytes, TextTrim::Both, vendor, sizeof vendor);
  storeReplyText(inquiry + kProductOffset, kProductBytes, kProductBytes, TextTrim::Both, product,
                 sizeof product);
  char model[kVendorBytes + 1 + kProductBytes + 1];
  std::snprintf(model, sizeof model, "%s %s", vendor, product);
  // Joined, not trimmed again: an empty vendor leaves the leading blank the format gives.
  setField(record.model, model, kModelMaxChars);
}

void storeSerialFromBytes(const uint8_t (&inquiry)[kInquiryBytes], size_t offset, size_t bytes,
                          DriveRecord& record) {
  storeReplyText(inquiry + offset, bytes, bytes, TextTrim::End, record.serialNumber,
                 sizeof record.serialNumber);
}

// The unit serial number page's text: from byte 4, at most 64 characters, trimmed, then
// cut to the 20 the record keeps.
void storeVpdSerial(const uint8_t* page, DriveRecord& record) {
  std::memset(record.serialNumber, 0, sizeof record.serialNumber);
  if (page == nullptr) return;
  uint8_t copy[kVpdSerialPageBytes];
  std::memcpy(copy, page, sizeof copy);
  // A genuine serial page is cut at byte 68 (64 characters behind the 4-byte header).
  if (copy[kVpdPageCode] == kVpdUnitSerialNumber) copy[kVpdSerialCut] = 0;
  char text[kVpdSerialMaxChars + 1];
  storeReplyText(copy + kVpdSerialOffset, sizeof copy - kVpdSerialOffset, kVpdSerialMaxChars, TextTrim::Both,
                 text, sizeof text);
  setField(record.serialNumber, text, kSerialMaxChars);
}

[[nodiscard]] bool bytesAre(const uint8_t (&inquiry)[kInquiryBytes], size_t offset, const char* text) {
  return std::memcmp(inquiry + offset, text, std::strlen(text)) == 0;
}

}  // namespace

void inquiryIdentityFromReplies(const uint8_t (&inquiry)[kInquiryBytes], InquiryForm form,
                                const uint8_t* serialPage, DriveRecord& record) {
  char vendor[kVendorBytes + 1];
  storeVendorProductModel(inquiry, record, vendor);
  storeReplyText(inquiry + kRevisionOffset, kRevisionBytes, kRevisionBytes, TextTrim::End,
                 record.firmwareRevision, sizeof record.firmwareRevision);

  if (form == InquiryForm::Enclosure) {
    storeSerialFromBytes(inquiry, kEnclosureSerialOffset, kEnclosureSerialBytes, record);
    return;
  }

  storeVpdSerial(serialPage, record);
  // Some bridges and drives keep their real serial number in the vendor-specific bytes
  // and answer VPD 80h with something else.
  if (record.busType == kBusScsi && std::strstr(vendor, "SEAGATE") != nullptr) {
    storeSerialFromBytes(inquiry, kSeagateSerialOffset, kSeagateSerialBytes, record);
  } else if (record.busType == kBusFireWire) {
    if (std::strstr(vendor, "VARNHL") != nullptr) {
      storeSerialFromBytes(inquiry, kVarnhlSerialOffset, kVarnhlSerialBytes, record);
    } else if (bytesAre(inquiry, kTag905Offset, "905")) {
      storeSerialFromBytes(inquiry, kTag905SerialOffset, kTag905SerialBytes, record);
    }
  }
}

void inquiryIdentity(Platform& platform, Handle handle, const uint8_t (&inquiry)[kInquiryBytes],
                     InquiryForm form, DriveRecord& record) {
  if (form == InquiryForm::Enclosure) {
    inquiryIdentityFromReplies(inquiry, form, nullptr, record);
    return;
  }
  // Zeroed first: a device that returns fewer bytes leaves zeros, which end the text.
  uint8_t page[kVpdSerialPageBytes] = {};
  const bool read = scsiInquiryVpd(platform, handle, kVpdUnitSerialNumber,
                                   static_cast<uint8_t>(sizeof page), page);
  inquiryIdentityFromReplies(inquiry, form, read ? page : nullptr, record);
}

void readCapacity(Platform& platform, Prompter& prompter, Handle handle, DriveRecord& record) {
  uint32_t lastLba10 = 0;
  uint32_t blockLength = 0;
  if (!scsiReadCapacity10(platform, handle, &lastLba10, &blockLength)) {
    prompter.ask("ReadCapacity failed!", platform.productTitle(), PromptIcon::None, PromptButtons::Ok, PromptAnswer::Ok,
                 PromptPurpose::information());
    lastLba10 = 0;
    blockLength = 0;
  }
  uint64_t lastLba = lastLba10;
  // FFFFFFFFh: the capacity does not fit READ CAPACITY (10) (SBC), so ask (16).
  if (lastLba10 == 0xFFFFFFFFu) {
    uint64_t lastLba16 = 0;
    // An all-ones last LBA would make a drive of no sectors once counted: a device that
    // answers it has not told its capacity.
    if (!scsiReadCapacity16(platform, handle, &lastLba16) || lastLba16 == UINT64_MAX) {
      prompter.ask("ReadCapacity16 failed!", platform.productTitle(), PromptIcon::None, PromptButtons::Ok, PromptAnswer::Ok,
                   PromptPurpose::information());
      lastLba16 = 0;
    }
    lastLba = lastLba16;
  }
  record.totalSectors = lastLba + 1;
  record.identifiedSectors = record.totalSectors;
  record.sectorSize = static_cast<int32_t>(blockLength);
}

}  // namespace palvoro
