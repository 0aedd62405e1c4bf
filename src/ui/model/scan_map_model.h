#pragma once
// What the Scan Map window shows of a drive's last extended test: the surface as bars
// (one per stripe, as high as its slowest block on a logarithmic scale, in that block's
// colour), the histogram beside it, the slowest blocks and the hints. The widget only
// paints what this computes.

#include <cstdint>
#include <string>
#include <vector>

#include "diagnostics/block_latency.h"
#include "discovery/drive_record.h"

namespace palvoro {

struct ScanMapBar {
  double left = 0;    // fraction of the plot's width
  double width = 0;   // fraction of the plot's width
  double height = 0;  // fraction of the plot's height
  uint32_t colour = 0;
};

struct ScanMapHistogramRow {
  std::string label;
  uint64_t blocks = 0;
  double share = 0;  // of all blocks, 0..1
  uint32_t colour = 0;
};

struct ScanMapTick {
  double height = 0;  // fraction of the plot's height
  std::string label;
};

// The plot's height for a block time: 100 µs and less at the bottom, 10 s at the top, a
// fifth of the height for each factor of ten in between.
double scanMapHeight(uint64_t microseconds);

class ScanMapModel {
 public:
  ScanMapModel(const BlockLatencyMap& map, const DriveRecord& record, int shownDriveNumber);

  std::string title() const;    // "Scan Map - Physical Drive N"
  std::string heading() const;  // the drive and what the scan covered
  // One bar per stripe a block began in; an unreadable stripe reaches the top.
  std::vector<ScanMapBar> bars() const;
  std::vector<ScanMapHistogramRow> histogram() const;
  static std::vector<ScanMapTick> ticks();
  // "sector S: T ms" for the `count` slowest blocks.
  std::vector<std::string> slowestLines(size_t count) const;
  std::vector<std::string> hints() const { return latencyHints(m_map); }

 private:
  const BlockLatencyMap& m_map;
  std::string m_model;
  std::string m_serial;
  int m_driveNumber;
};

}  // namespace palvoro
