#include "results/latency_picture.h"

#include <algorithm>

namespace palvoro {

namespace {

constexpr uint32_t kColours[kLatencyBuckets] = {
    0x2E9E44,  // < 5 ms
    0x8CC63F,  // < 20 ms
    0xF2D21B,  // < 50 ms
    0xF59B23,  // < 150 ms
    0xE8561E,  // < 500 ms
    0xC00000,  // 500 ms or more
    0x301020,  // unreadable
};

constexpr int kResultMapColumns = 250;

}  // namespace

uint32_t latencyColour(size_t bucket) { return bucket < kLatencyBuckets ? kColours[bucket] : kNoBlockColour; }

size_t stripeBucket(const LatencyStripe& stripe) {
  if (stripe.unreadable > 0) return kUnreadableBucket;
  if (stripe.blocks == 0) return kLatencyBuckets;
  return latencyBucket(stripe.worstMicroseconds);
}

IndexedImage latencyMapImage(const BlockLatencyMap& map, int height, int columns) {
  const size_t stripes = map.stripes().size();
  IndexedImage image;
  image.width = static_cast<int>(std::clamp<size_t>(stripes, 1, static_cast<size_t>(std::max(columns, 1))));
  image.height = std::max(height, 1);
  for (size_t bucket = 0; bucket <= kLatencyBuckets; ++bucket) image.palette.push_back(latencyColour(bucket));
  const auto width = static_cast<size_t>(image.width);
  image.pixels.assign(width * static_cast<size_t>(image.height), static_cast<uint8_t>(kLatencyBuckets));
  for (size_t x = 0; x < width && stripes > 0; ++x) {
    // Stripes x*stripes/width up to (x+1)*stripes/width: every stripe in exactly one column.
    size_t worst = kLatencyBuckets;
    for (size_t i = x * stripes / width; i < (x + 1) * stripes / width; ++i) {
      const size_t bucket = stripeBucket(map.stripes()[i]);
      // A stripe with no block is the mildest: any block outweighs it.
      if (bucket != kLatencyBuckets && (worst == kLatencyBuckets || bucket > worst)) worst = bucket;
    }
    for (size_t y = 0; y < static_cast<size_t>(image.height); ++y) {
      image.pixels[y * width + x] = static_cast<uint8_t>(worst);
    }
  }
  return image;
}

std::string base64(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out += kDigits[(n >> shift) & 0x3F];
  }
  if (i + 1 == bytes.size()) {
    const uint32_t n = uint32_t{bytes[i]} << 16;
    out += kDigits[(n >> 18) & 0x3F];
    out += kDigits[(n >> 12) & 0x3F];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const uint32_t n = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8);
    out += kDigits[(n >> 18) & 0x3F];
    out += kDigits[(n >> 12) & 0x3F];
    out += kDigits[(n >> 6) & 0x3F];
    out += '=';
  }
  return out;
}

std::vector<std::string> latencyResultRows(const BlockLatencyMap& map) {
  if (map.blocks() == 0) return {};
  std::string histogram = "<tr><td><font color=0000ff>Block Read Times:</font></td><td>";
  for (size_t i = 0; i < kLatencyBuckets; ++i) {
    if (i > 0) histogram += ", ";
    // The labels hold "<", which the page must not take for a tag.
    std::string label = latencyBucketLabel(i);
    if (label[0] == '<') label = "&lt;" + label.substr(1);
    histogram += label + ": " + std::to_string(map.histogram()[i]);
  }
  histogram += "</td></tr>\r\n";
  // One pixel row of 250 columns, stretched by the page to a band that fits beside the
  // labels: the picture stays a few hundred bytes whatever the drive's size.
  const IndexedImage image = latencyMapImage(map, 1, kResultMapColumns);
  const std::string picture = "<tr><td><font color=0000ff>Surface Map:</font></td><td><img src='data:image/gif;base64," +
                              base64(encodeGif(image)) +
                              "' width=" + std::to_string(image.width) + " height=16 alt='Surface map: each stripe coloured by its slowest block'>"
                              "</td></tr>\r\n";
  return {histogram, picture};
}

}  // namespace palvoro
