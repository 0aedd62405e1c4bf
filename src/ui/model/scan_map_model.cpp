#include "ui/model/scan_map_model.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "results/latency_picture.h"

namespace palvoro {

namespace {

std::string milliseconds(uint64_t microseconds) {
  char text[48];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%03" PRIu64 " ms", microseconds / 1000, microseconds % 1000);
  return text;
}

}  // namespace

double scanMapHeight(uint64_t microseconds) {
  const double decades = std::log10(static_cast<double>(std::max<uint64_t>(microseconds, 1)));
  // A block read at all shows as a sliver, so that a quick stripe is not a missing one.
  return std::clamp((decades - 2.0) / 5.0, 0.02, 1.0);
}

ScanMapModel::ScanMapModel(const BlockLatencyMap& map, const DriveRecord& record, int shownDriveNumber)
    : m_map(map),
      m_model(trimmedField(record.model, sizeof record.model)),
      m_serial(trimmedField(record.serialNumber, sizeof record.serialNumber)),
      m_driveNumber(shownDriveNumber) {}

std::string ScanMapModel::title() const { return "Scan Map - Physical Drive " + std::to_string(m_driveNumber); }

std::string ScanMapModel::heading() const {
  char text[200];
  std::snprintf(text, sizeof text, "%s (serial %s): %" PRIu64 " blocks read, sectors %" PRIu64 " to %" PRIu64,
                m_model.c_str(), m_serial.c_str(), m_map.blocks(), m_map.first(),
                m_map.end() > m_map.first() ? m_map.end() - 1 : m_map.first());
  return text;
}

std::vector<ScanMapBar> ScanMapModel::bars() const {
  std::vector<ScanMapBar> bars;
  const double count = static_cast<double>(m_map.stripes().size());
  for (size_t i = 0; i < m_map.stripes().size(); ++i) {
    const LatencyStripe& stripe = m_map.stripes()[i];
    const size_t bucket = stripeBucket(stripe);
    if (bucket == kLatencyBuckets) continue;
    ScanMapBar bar;
    bar.left = static_cast<double>(i) / count;
    bar.width = 1.0 / count;
    bar.height = bucket == kUnreadableBucket ? 1.0 : scanMapHeight(stripe.worstMicroseconds);
    bar.colour = latencyColour(bucket);
    bars.push_back(bar);
  }
  return bars;
}

std::vector<ScanMapHistogramRow> ScanMapModel::histogram() const {
  std::vector<ScanMapHistogramRow> rows;
  const uint64_t total = m_map.blocks();
  for (size_t i = 0; i < kLatencyBuckets; ++i) {
    const uint64_t blocks = m_map.histogram()[i];
    rows.push_back({latencyBucketLabel(i), blocks,
                    total == 0 ? 0.0 : static_cast<double>(blocks) / static_cast<double>(total), latencyColour(i)});
  }
  return rows;
}

std::vector<ScanMapTick> ScanMapModel::ticks() {
  return {{scanMapHeight(1'000), "1 ms"},
          {scanMapHeight(10'000), "10 ms"},
          {scanMapHeight(100'000), "100 ms"},
          {scanMapHeight(1'000'000), "1 s"},
          {scanMapHeight(10'000'000), "10 s"}};
}

std::vector<std::string> ScanMapModel::slowestLines(size_t count) const {
  std::vector<std::string> lines;
  const std::vector<SlowBlock> slowest = m_map.slowest();
  for (size_t i = 0; i < std::min(count, slowest.size()); ++i) {
    lines.push_back("sector " + std::to_string(slowest[i].firstSector) + ": " + milliseconds(slowest[i].microseconds));
  }
  return lines;
}

}  // namespace palvoro
