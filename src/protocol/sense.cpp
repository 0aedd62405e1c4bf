#include "protocol/sense.h"

namespace palvoro {

namespace {

constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;

void decodeDescriptors(const uint8_t* data, size_t length, Sense& s) {
  // Descriptors start at byte 8; byte 7 says how many bytes follow it.
  size_t end = 8 + data[7];
  if (end > length) end = length;
  size_t at = 8;
  while (at + 2 <= end) {
    const uint8_t type = data[at];
    const size_t size = 2 + data[at + 1];
    if (at + size > end) break;
    if (type == kAtaStatusReturnDescriptor && size >= 14) {
      const uint8_t* d = data + at;
      s.hasRegisters = true;
      s.extended = (d[2] & 0x01) != 0;
      s.registers.features = d[3];
      s.upper.count = d[4];
      s.registers.count = d[5];
      s.upper.lbaLow = d[6];
      s.registers.lbaLow = d[7];
      s.upper.lbaMid = d[8];
      s.registers.lbaMid = d[9];
      s.upper.lbaHigh = d[10];
      s.registers.lbaHigh = d[11];
      s.registers.device = d[12];
      s.registers.command = d[13];
    }
    at += size;
  }
}

uint8_t byteAt(const uint8_t* data, size_t length, size_t index) { return index < length ? data[index] : 0; }

void decodeFixed(const uint8_t* data, size_t length, Sense& s) {
  s.key = byteAt(data, length, 2) & 0x0F;
  s.asc = byteAt(data, length, 12);
  s.ascq = byteAt(data, length, 13);
  // Which fixed layout: a status register never reads zero from a drive that answered
  // (DRDY at least), and each layout leaves the other's status byte zero.
  const uint8_t satStatus = byteAt(data, length, 4);
  const uint8_t libataStatus = byteAt(data, length, 9);
  if (satStatus != 0 && (satStatus & kAtaStatusBusy) == 0) {
    s.hasRegisters = true;
    s.registers.features = byteAt(data, length, 3);
    s.registers.command = satStatus;
    s.registers.device = byteAt(data, length, 5);
    s.registers.count = byteAt(data, length, 6);
    const uint8_t flags = byteAt(data, length, 8);
    s.extended = (flags & 0x80) != 0;
    s.registers.lbaLow = byteAt(data, length, 9);
    s.registers.lbaMid = byteAt(data, length, 10);
    s.registers.lbaHigh = byteAt(data, length, 11);
  } else if (libataStatus != 0 && (libataStatus & kAtaStatusBusy) == 0) {
    s.hasRegisters = true;
    s.registers.features = byteAt(data, length, 8);
    s.registers.command = libataStatus;
    s.registers.device = byteAt(data, length, 10);
    s.registers.count = byteAt(data, length, 11);
    s.extended = (byteAt(data, length, 16) & 0x80) != 0;
    // Only what the kernel actually wrote counts; mid and high fall past an 18-byte sense.
    s.registers.lbaLow = byteAt(data, length, 17);
    s.registers.lbaMid = byteAt(data, length, 18);
    s.registers.lbaHigh = byteAt(data, length, 19);
  }
}

}  // namespace

Sense decodeSense(const uint8_t* data, size_t length) {
  Sense s;
  if (data == nullptr || length < 2) return s;
  const uint8_t code = data[0] & 0x7F;
  if (code == 0x72 || code == 0x73) {
    if (length < 8) return s;
    s.present = true;
    s.descriptor = true;
    s.key = data[1] & 0x0F;
    s.asc = data[2];
    s.ascq = data[3];
    decodeDescriptors(data, length, s);
  } else if (code == 0x70 || code == 0x71) {
    s.present = true;
    decodeFixed(data, length, s);
  }
  return s;
}

}  // namespace palvoro
