#include "discovery/identify.h"

#include <algorithm>
#include <cstring>

#include "device/ata_command.h"
#include "device/scsi_transport.h"
#include "protocol/byte_order.h"

namespace palvoro {
namespace {

// Byte ranges of the ATA strings (word number times two), and how many characters each
// field keeps.
constexpr size_t kSerialOffset = 10 * 2;
constexpr size_t kSerialBytes = 20;
constexpr size_t kFirmwareOffset = 23 * 2;
constexpr size_t kFirmwareBytes = 8;
constexpr size_t kModelOffset = 27 * 2;
constexpr size_t kModelBytes = 40;

constexpr int kWordSanitize = 59;
constexpr int kWordLba28Count = 60;
constexpr int kWordCommandSetsEnabled = 86;
constexpr int kWordLba48Count = 100;
constexpr int kWordSectorLayout = 106;
constexpr int kWordWwn = 108;
constexpr int kWordLogicalSectorWords = 117;
constexpr int kWordSmartSupport = 82;
constexpr int kWordVendor = 133;
constexpr int kWordDataSetManagement = 169;
constexpr int kWordRotationRate = 217;

constexpr uint16_t kLba48Enabled = 1u << 10;  // word 86
// Word 106: valid when bit 14 is set and bit 15 clear; bit 12, the logical sector is longer
// than 256 words (its length in words 117..118); bit 13, several logical sectors per
// physical one (2^bits 0..2 of them).
constexpr uint16_t kLayoutValidMask = 0xC000;
constexpr uint16_t kLayoutValid = 0x4000;
constexpr uint16_t kLayoutLongLogical = 1u << 12;
constexpr uint16_t kLayoutSeveralPerPhysical = 1u << 13;
// Word 59 bit 12: sanitize feature set; bit 14: its OVERWRITE EXT command.
constexpr uint16_t kSanitizeOverwrite = (1u << 12) | (1u << 14);

// The C locale's isspace, without depending on the process locale: a drive's 0xA0 must not
// turn into white space on a machine whose locale happens to be Latin-1.
[[nodiscard]] bool isTextSpace(char c) {
  switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
      return true;
    default:
      return false;
  }
}

// Word 106 and words 117..118: the logical sector length in words times two, whenever bit
// 12 says the length is there. A 4Kn drive (5000h, one 4096-byte logical sector per
// physical) leaves bit 13 clear; requiring it read such a drive as 512-byte sectors and
// listed an eighth of its capacity. With bit 13 set as well the size stays, as it always
// was here, 2^(bits 0..2) times that. Computed modulo 2^32 like the 32-bit field it lands in, so a nonsense
// reply gives a nonsense size but no undefined behaviour.
int32_t sectorSizeFrom(const uint8_t (&reply)[kIdentifyBytes]) {
  const uint16_t layout = identifyWord(reply, kWordSectorLayout);
  if ((layout & kLayoutValidMask) != kLayoutValid || (layout & kLayoutLongLogical) == 0) return 512;
  const uint32_t perPhysical = (layout & kLayoutSeveralPerPhysical) != 0 ? 1u << (layout & 0x7) : 1u;
  const uint32_t size = perPhysical * identifyDword(reply, kWordLogicalSectorWords) * 2u;
  return static_cast<int32_t>(size);
}

uint32_t hybridFlagsFrom(const uint8_t (&reply)[kIdentifyBytes], bool logCapability) {
  uint32_t flags = 0;
  if (identifyTrimSupported(reply)) flags |= kHybridTrimRotating;
  if (logCapability) flags |= kHybridLogCapability;
  if ((flags & (kHybridTrimRotating | kHybridLogCapability)) != 0 &&
      (identifyWord(reply, kWordSanitize) & kSanitizeOverwrite) == kSanitizeOverwrite) {
    flags |= kHybridSanitizeReady;
  }
  return flags;
}

// The capability of the drive's IDENTIFY DEVICE data log, asked over the route its bus
// allows.
[[nodiscard]] bool readLogCapability(Platform& platform, Handle handle, const DriveRecord& record) {
  // Zeroed first: a request that succeeds without delivering data leaves an invalid header.
  uint8_t page[kSectorBytes] = {};
  // USB bridges do not pass ATA pass-through; their drives take the SAT (16) block.
  const bool read = record.busType == kBusUsb ? satReadIdentifyDataLog(platform, handle, page)
                                              : ataReadIdentifyDataLog(platform, handle, page);
  if (!read) return false;
  return identifyLogCapability(page);
}

// The parse proper; `logCapability` is asked only for a rotating drive.
template <typename LogQuery>
uint16_t parseWith(uint8_t (&reply)[kIdentifyBytes], DriveRecord& record, LogQuery logCapability) {
  swapIdentifyStrings(reply);
  storeReplyText(reply + kModelOffset, kModelBytes, kModelBytes, TextTrim::Both, record.model,
                 sizeof record.model);
  storeReplyText(reply + kSerialOffset, kSerialBytes, kSerialBytes, TextTrim::Both,
                 record.serialNumber, sizeof record.serialNumber);
  storeReplyText(reply + kFirmwareOffset, kFirmwareBytes, kFirmwareBytes, TextTrim::Both,
                 record.firmwareRevision, sizeof record.firmwareRevision);

  if ((identifyWord(reply, kWordCommandSetsEnabled) & kLba48Enabled) != 0) {
    record.totalSectors = identifyQword(reply, kWordLba48Count);
  } else {
    record.totalSectors = identifyDword(reply, kWordLba28Count);
  }
  record.sectorSize = sectorSizeFrom(reply);

  const uint16_t rotationRate = identifyRotationRate(reply);
  // Solid-state and unreported drives keep whatever the record held (0 after detection
  // zeroed the table): the flags only steer how a spinning hybrid drive is erased.
  if (isRotatingRate(rotationRate)) {
    record.hybridFlags = hybridFlagsFrom(reply, logCapability());
  }
  return rotationRate;
}

}  // namespace

uint16_t identifyWord(const uint8_t (&reply)[kIdentifyBytes], int n) {
  if (n < 0 || n >= kIdentifyWordCount) return 0;
  const size_t at = static_cast<size_t>(n) * 2;
  return loadLe16(reply + at);
}

uint32_t identifyDword(const uint8_t (&reply)[kIdentifyBytes], int n) {
  return static_cast<uint32_t>(identifyWord(reply, n)) |
         (static_cast<uint32_t>(identifyWord(reply, n + 1)) << 16);
}

uint64_t identifyQword(const uint8_t (&reply)[kIdentifyBytes], int n) {
  return static_cast<uint64_t>(identifyDword(reply, n)) |
         (static_cast<uint64_t>(identifyDword(reply, n + 2)) << 32);
}

uint64_t identifyWorldWideName(const uint8_t (&reply)[kIdentifyBytes]) {
  uint64_t name = 0;
  for (int i = 0; i < 4; ++i) name = (name << 16) | identifyWord(reply, kWordWwn + i);
  return name;
}

uint32_t identifyWwnNaaAndOui(const uint8_t (&reply)[kIdentifyBytes]) {
  const uint32_t high = (static_cast<uint32_t>(identifyWord(reply, kWordWwn)) << 16) |
                        identifyWord(reply, kWordWwn + 1);
  return high >> 4;
}

bool identifySmartSupported(const uint8_t (&reply)[kIdentifyBytes]) {
  return (identifyWord(reply, kWordSmartSupport) & 0x1) != 0;
}

uint16_t identifyVendorWord(const uint8_t (&reply)[kIdentifyBytes]) {
  return identifyWord(reply, kWordVendor);
}

bool identifyTrimSupported(const uint8_t (&reply)[kIdentifyBytes]) {
  return (identifyWord(reply, kWordDataSetManagement) & 0x1) != 0;
}

uint16_t identifyRotationRate(const uint8_t (&reply)[kIdentifyBytes]) {
  return identifyWord(reply, kWordRotationRate);
}

bool isRotatingRate(uint16_t rotationRate) {
  return rotationRate >= 0x0401 && rotationRate != 0xFFFF;
}

void storeReplyText(const uint8_t* source, size_t length, size_t maxChars, TextTrim trim,
                    char* field, size_t fieldSize) {
  if (field == nullptr || fieldSize == 0) return;
  std::memset(field, 0, fieldSize);
  if (source == nullptr) return;

  size_t end = std::min(length, maxChars);
  const auto* zero = static_cast<const uint8_t*>(std::memchr(source, 0, end));
  if (zero != nullptr) end = static_cast<size_t>(zero - source);

  const char* text = reinterpret_cast<const char*>(source);
  size_t begin = 0;
  if (trim == TextTrim::Both) {
    while (begin < end && isTextSpace(text[begin])) ++begin;
  }
  while (end > begin && isTextSpace(text[end - 1])) --end;

  const size_t count = std::min(end - begin, fieldSize - 1);
  std::memcpy(field, text + begin, count);
  keepPrintable(field, fieldSize);
}

void swapIdentifyStrings(uint8_t (&reply)[kIdentifyBytes]) {
  struct Area {
    size_t offset;
    size_t bytes;
  };
  static constexpr Area kAreas[] = {{kSerialOffset, kSerialBytes},
                                    {kFirmwareOffset, kFirmwareBytes},
                                    {kModelOffset, kModelBytes}};
  for (const Area& area : kAreas) {
    for (size_t i = area.offset; i + 1 < area.offset + area.bytes; i += 2) {
      std::swap(reply[i], reply[i + 1]);
    }
  }
}

bool identifyLogCapability(const uint8_t (&page)[kIdentifyBytes]) {
  // Header QWORD: revision in bytes 0..1, page number in byte 2, bit 63 in byte 7.
  const bool headerValid = (page[0] & 0x01) != 0 || (page[2] & 0x03) != 0 || (page[7] & 0x80) != 0;
  if (!headerValid) return false;
  const uint32_t capabilities = loadLe32(page + 12);
  return (capabilities & (1u << 18)) != 0;
}

uint16_t parseIdentify(Platform& platform, Handle handle, uint8_t (&reply)[kIdentifyBytes],
                       DriveRecord& record) {
  return parseWith(reply, record, [&] { return readLogCapability(platform, handle, record); });
}

uint16_t parseIdentifyReply(uint8_t (&reply)[kIdentifyBytes], DriveRecord& record,
                            bool logCapability) {
  return parseWith(reply, record, [logCapability] { return logCapability; });
}

}  // namespace palvoro
