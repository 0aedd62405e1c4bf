#include "results/gif_encoder.h"

#include <stdexcept>
#include <unordered_map>

namespace palvoro {
namespace {

void put16(std::vector<uint8_t>& out, int value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

// Packs variable-width codes least significant bit first, as GIF's LZW stream wants them.
class CodeWriter {
 public:
  void put(uint32_t code, int width) {
    m_accumulator |= code << m_bits;
    m_bits += width;
    while (m_bits >= 8) {
      m_bytes.push_back(static_cast<uint8_t>(m_accumulator & 0xFF));
      m_accumulator >>= 8;
      m_bits -= 8;
    }
  }
  std::vector<uint8_t> finish() {
    if (m_bits > 0) m_bytes.push_back(static_cast<uint8_t>(m_accumulator & 0xFF));
    m_accumulator = 0;
    m_bits = 0;
    return std::move(m_bytes);
  }

 private:
  uint32_t m_accumulator = 0;
  int m_bits = 0;
  std::vector<uint8_t> m_bytes;
};

// The largest code GIF allows: codes are at most 12 bits wide.
constexpr uint32_t kMaxCode = 4095;

// LZW as the GIF89a appendix F describes it: a clear code first, codes one bit wider
// than the root size, widening when the table outgrows the width, and a clear code
// (resetting table and width) whenever the table is full.
std::vector<uint8_t> lzwEncode(const std::vector<uint8_t>& pixels, int minCodeSize) {
  const uint32_t clearCode = 1u << minCodeSize;
  const uint32_t endCode = clearCode + 1;
  CodeWriter writer;
  std::unordered_map<uint32_t, uint32_t> table;  // (prefix code << 8 | byte) -> code
  uint32_t nextCode = endCode + 1;
  int width = minCodeSize + 1;

  // The decoder adds a table entry one code later than the encoder does, so the encoder
  // widens its codes only once the newest entry it made no longer fits the width.
  auto emit = [&](uint32_t code) {
    if (nextCode - 1 >= (1u << width) && width < 12) ++width;
    writer.put(code, width);
  };

  writer.put(clearCode, width);
  if (pixels.empty()) {
    writer.put(endCode, width);
    return writer.finish();
  }
  uint32_t prefix = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    const uint8_t byte = pixels[i];
    const uint32_t key = (prefix << 8) | byte;
    if (auto found = table.find(key); found != table.end()) {
      prefix = found->second;
      continue;
    }
    emit(prefix);
    if (nextCode <= kMaxCode) {
      table.emplace(key, nextCode++);
    } else {
      // Table full: start afresh. The clear code goes out at the current width.
      writer.put(clearCode, width);
      table.clear();
      nextCode = endCode + 1;
      width = minCodeSize + 1;
    }
    prefix = byte;
  }
  emit(prefix);
  // The end code is read after the decoder added the entry for the last code.
  ++nextCode;
  emit(endCode);
  return writer.finish();
}

}  // namespace

std::vector<uint8_t> encodeGif(const IndexedImage& image) {
  if (image.width <= 0 || image.height <= 0 || image.width > 0xFFFF || image.height > 0xFFFF ||
      image.palette.empty() || image.palette.size() > 256 ||
      image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
    throw std::invalid_argument("encodeGif: malformed image");
  }
  for (uint8_t index : image.pixels) {
    if (index >= image.palette.size()) throw std::invalid_argument("encodeGif: index outside the palette");
  }

  // Colour table size 2^(tableBits); LZW roots need at least 2 bits.
  int tableBits = 1;
  while ((1u << tableBits) < image.palette.size()) ++tableBits;
  const int minCodeSize = tableBits < 2 ? 2 : tableBits;

  std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
  // Logical screen descriptor: size, flags (global table present, 8-bit colour resolution,
  // table size), background colour index 0, pixel aspect ratio 0 (not given).
  put16(out, image.width);
  put16(out, image.height);
  out.push_back(static_cast<uint8_t>(0x80 | 0x70 | (tableBits - 1)));
  out.push_back(0);
  out.push_back(0);
  for (size_t i = 0; i < (1u << tableBits); ++i) {
    const uint32_t rgb = i < image.palette.size() ? image.palette[i] : 0;
    out.push_back(static_cast<uint8_t>((rgb >> 16) & 0xFF));
    out.push_back(static_cast<uint8_t>((rgb >> 8) & 0xFF));
    out.push_back(static_cast<uint8_t>(rgb & 0xFF));
  }
  // Image descriptor: at 0,0, full size, no local table, not interlaced.
  out.push_back(0x2C);
  put16(out, 0);
  put16(out, 0);
  put16(out, image.width);
  put16(out, image.height);
  out.push_back(0);
  // Image data: the root size, then the code stream in sub-blocks of at most 255 bytes.
  out.push_back(static_cast<uint8_t>(minCodeSize));
  const std::vector<uint8_t> codes = lzwEncode(image.pixels, minCodeSize);
  for (size_t at = 0; at < codes.size(); at += 255) {
    const size_t length = codes.size() - at < 255 ? codes.size() - at : 255;
    out.push_back(static_cast<uint8_t>(length));
    out.insert(out.end(), codes.begin() + static_cast<long>(at), codes.begin() + static_cast<long>(at + length));
  }
  out.push_back(0);     // block terminator
  out.push_back(0x3B);  // trailer
  return out;
}

}  // namespace palvoro
