#pragma once
// A small GIF89a writer for the pictures the program carries as data (the logo the help
// pages and the result page show): one image, one global colour table, LZW-coded pixels.

#include <cstdint>
#include <vector>

namespace palvoro {

// An indexed-colour picture: `pixels` holds width x height palette indexes, row by row.
struct IndexedImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> palette;  // 0xRRGGBB, 1 to 256 entries
  std::vector<uint8_t> pixels;
};

// The whole GIF89a file of `image`. The colour table is padded with black to the next
// power of two. Throws std::invalid_argument for a malformed image (a programming error).
std::vector<uint8_t> encodeGif(const IndexedImage& image);

}  // namespace palvoro
