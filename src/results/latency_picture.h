#pragma once
// The scan's block times as people see them: a colour for each stripe of the surface by
// its worst block, and the two rows the result page shows for an extended test.

#include <cstdint>
#include <string>
#include <vector>

#include "diagnostics/block_latency.h"
#include "results/gif_encoder.h"

namespace palvoro {

// The colour of a stripe whose worst block fell in `bucket` (0xRRGGBB): green for quick
// reads through yellow and orange to red for reads of 500 ms or more, near black where a
// block could not be read. A stripe no block began in is light grey.
uint32_t latencyColour(size_t bucket);
inline constexpr uint32_t kNoBlockColour = 0xD8D8D8;

// The bucket a stripe is coloured by: unreadable when any of its blocks was, else its
// worst block's; kLatencyBuckets when no block began in it.
size_t stripeBucket(const LatencyStripe& stripe);

// The surface as a picture `height` pixels tall and at most `columns` wide, left to right
// from the first sector: a column per stripe, or, where stripes outnumber columns, each
// column in the colour of the worst of its stripes, so that no slow or unreadable stripe
// drops out of the picture.
IndexedImage latencyMapImage(const BlockLatencyMap& map, int height, int columns);

// Standard base64 of `bytes`, with padding.
std::string base64(const std::vector<uint8_t>& bytes);

// The result page's rows for a scan's block times: "Block Read Times" (the histogram) and
// "Surface Map" (the picture, inside the page as a data address: the page needs no other
// file). None for a map with no block.
std::vector<std::string> latencyResultRows(const BlockLatencyMap& map);

}  // namespace palvoro
