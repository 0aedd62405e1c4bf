#pragma once
// Identity and capacity of an ATA drive from its IDENTIFY DEVICE reply (T13 ACS): model,
// serial number and firmware texts, sector count, sector size, and the hybrid-drive flags
// that decide how the erase treats the drive. The word accessors below are shared with
// the probe, which reads a few more words of the same reply.

#include <cstddef>
#include <cstdint>

#include "discovery/drive_record.h"
#include "platform/platform.h"

namespace palvoro {

inline constexpr size_t kIdentifyBytes = 512;
inline constexpr int kIdentifyWordCount = 256;

// Word `n` (0..255) of a reply, little-endian as the drive sends it; 0 for any other n.
uint16_t identifyWord(const uint8_t (&reply)[kIdentifyBytes], int n);
// Words n and n+1 as one 32-bit value, word n the low half.
uint32_t identifyDword(const uint8_t (&reply)[kIdentifyBytes], int n);
// Words n..n+3 as one 64-bit value, word n the lowest.
uint64_t identifyQword(const uint8_t (&reply)[kIdentifyBytes], int n);

// Words 108..111: the world wide name, word 108 the most significant (NAA in its top 4 bits).
uint64_t identifyWorldWideName(const uint8_t (&reply)[kIdentifyBytes]);
// The upper 28 bits of words 108..109: NAA and organisation identifier (5000CCAh for the maker).
uint32_t identifyWwnNaaAndOui(const uint8_t (&reply)[kIdentifyBytes]);
// Word 82 bit 0: the SMART feature set is supported.
[[nodiscard]] bool identifySmartSupported(const uint8_t (&reply)[kIdentifyBytes]);
// Word 133, kept as `vendorWord`.
uint16_t identifyVendorWord(const uint8_t (&reply)[kIdentifyBytes]);
// Word 169 bit 0: DATA SET MANAGEMENT with TRIM is supported.
[[nodiscard]] bool identifyTrimSupported(const uint8_t (&reply)[kIdentifyBytes]);
// Word 217: nominal media rotation rate (1 non-rotating, 0401h..FFFEh rpm).
uint16_t identifyRotationRate(const uint8_t (&reply)[kIdentifyBytes]);
// A rotation rate that names a spinning drive: 0401h..FFFEh. 0 (not reported), 1 (solid
// state), the reserved 0002h..0400h and FFFFh do not.
[[nodiscard]] bool isRotatingRate(uint16_t rotationRate);

// How a reply text is cut down.
enum class TextTrim {
  Both,  // leading and trailing white space removed
  End,   // only trailing white space removed
};

// Copies at most `maxChars` bytes of `source` (`length` bytes available) as text: a zero
// byte ends it early, white space is trimmed as `trim` says, and the result goes into
// `field` (`fieldSize` bytes, cut to fieldSize - 1 characters, the rest zeroed) so the
// field is always zero-terminated. White space is what the C locale calls space: blank,
// tab, line feed, vertical tab, form feed, carriage return. What is left is made printable
// (keepPrintable): a control character or a byte of 80h and above inside the text becomes
// '?'.
void storeReplyText(const uint8_t* source, size_t length, size_t maxChars, TextTrim trim,
                    char* field, size_t fieldSize);

// Swaps the two bytes of every word of the serial, firmware and model areas, in place, so
// the texts read in their natural order.
void swapIdentifyStrings(uint8_t (&reply)[kIdentifyBytes]);

// Page 3 of the IDENTIFY DEVICE data log: true when its header is taken as valid (bit 0 of
// the revision word, either low bit of the page number byte, or header bit 63) and
// capability bit 50 (bit 18 of the little-endian 32-bit value at bytes 12..15) is set.
[[nodiscard]] bool identifyLogCapability(const uint8_t (&page)[kIdentifyBytes]);

// Fills `model`, `serialNumber`, `firmwareRevision`, `totalSectors`, `sectorSize` and, for a
// rotating drive, `hybridFlags` from an IDENTIFY DEVICE reply and returns the rotation rate
// (word 217). The string words are swapped in place: parse a reply once only. For a
// rotating drive the drive is asked for its IDENTIFY DEVICE data log page 3 (READ LOG EXT)
// on `handle`; `record.busType` must already be set, as it chooses the route.
uint16_t parseIdentify(Platform& platform, Handle handle, uint8_t (&reply)[kIdentifyBytes],
                       DriveRecord& record);

// The same without a drive: `logCapability` stands for what the data log would answer.
uint16_t parseIdentifyReply(uint8_t (&reply)[kIdentifyBytes], DriveRecord& record,
                            bool logCapability);

}  // namespace palvoro
