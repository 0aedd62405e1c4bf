#include "diagnostics/erase_verify.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "device/drive_handle.h"
#include "diagnostics/block_pipeline.h"
#include "diagnostics/erase.h"
#include "diagnostics/sector_loop.h"
#include "diagnostics/temperature_guard.h"

namespace palvoro {
namespace {

// Reads on a drive opened without buffering want a buffer aligned to the sector; a page
// covers every size.
constexpr std::align_val_t kBufferAlignment{4096};

struct AlignedDelete {
  void operator()(uint8_t* p) const { ::operator delete[](p, kBufferAlignment); }
};
using VerifyBuffer = std::unique_ptr<uint8_t[], AlignedDelete>;

bool allZero(const uint8_t* bytes, size_t size) {
  // Every byte equals the one before it, and the first is zero.
  return size == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, size - 1) == 0);
}

// One read-back over the spans: the open drive, the buffer and what was found so far.
class ReadBack {
 public:
  ReadBack(DriveHandle& drive, uint8_t* buffer, uint32_t sectorSize, const std::atomic<bool>& stop,
           EraseVerification& result)
      : m_drive(drive), m_buffer(buffer), m_sectorSize(sectorSize), m_stop(stop), m_result(result) {}

  // What the queue brought for [first, first + count): checked when it arrived whole; a
  // failed read is narrowed down sector by sector or counted. False when stopped.
  bool block(uint64_t first, uint64_t count, const uint8_t* data) {
    if (m_stop.load()) return false;
    if (data != nullptr) {
      m_narrow = true;
      checkSectors(first, count, data);
      return true;
    }
    if (!m_narrow) {
      m_result.unreadableSectors += count;
      return true;
    }
    uint64_t unreadable = 0;
    for (uint64_t s = first; s < first + count; ++s) {
      if (m_stop.load()) return false;
      if (readAt(s, 1)) {
        checkSectors(s, 1, m_buffer);
      } else {
        ++unreadable;
        ++m_result.unreadableSectors;
      }
    }
    // Not one sector answered: the next failed blocks are taken whole.
    if (unreadable == count) m_narrow = false;
    return true;
  }

 private:
  bool readAt(uint64_t first, uint64_t count) {
    const auto bytes = static_cast<uint32_t>(count * m_sectorSize);
    uint32_t got = 0;
    return m_drive.seekTo(first * m_sectorSize) && m_drive.read(m_buffer, bytes, &got) && got == bytes;
  }

  void checkSectors(uint64_t first, uint64_t count, const uint8_t* data) {
    m_result.sectorsChecked += count;
    // A block of zeros, by far the common case, is decided in one pass.
    if (allZero(data, static_cast<size_t>(count) * m_sectorSize)) return;
    for (uint64_t i = 0; i < count; ++i) {
      if (allZero(data + i * m_sectorSize, m_sectorSize)) continue;
      ++m_result.nonZeroSectors;
      if (m_result.firstNonZero.size() < kListedNonZeroSectors) m_result.firstNonZero.push_back(first + i);
    }
  }

  DriveHandle& m_drive;
  uint8_t* m_buffer;
  uint32_t m_sectorSize;
  const std::atomic<bool>& m_stop;
  EraseVerification& m_result;
  bool m_narrow = true;  // a failed block is read again sector by sector
};

}  // namespace

EraseVerification verifyErase(Platform& platform, const DriveRecord& record, int32_t eraseMode,
                              const std::atomic<bool>& stop,
                              const std::function<void(const VerifyProgress&)>& progress,
                              const ReadBackTemperature& temperature) {
  EraseVerification result;
  // The erase refuses such a drive before it starts; the read-back must not wrap either.
  if (testRangeError(record) != 0) {
    result.end = EraseVerification::End::DriveUnusable;
    return result;
  }
  const std::vector<SectorSpan> spans = erasedSpans(record, eraseMode);
  for (const SectorSpan& span : spans) result.sectorsToCheck += span.end - span.first;

  const auto sectorSize = static_cast<uint32_t>(record.sectorSize);
  const uint64_t blockSectors = kVerifyBlockBytes / sectorSize;
  // One sector, for narrowing a failed block down; the blocks themselves land in the
  // queue's buffers.
  VerifyBuffer sector(new (kBufferAlignment, std::nothrow) uint8_t[static_cast<size_t>(kBufferAlignment)]);
  if (!sector) {
    result.end = EraseVerification::End::NoBuffer;
    return result;
  }
  DriveHandle drive(platform);
  // Without buffering, so that what is read comes from the drive and not from what the
  // system kept of the erase's own writes.
  if (!drive.openShared(physicalDrivePath(record.physicalDriveNumber), GENERIC_READ, FILE_FLAG_NO_BUFFERING,
                        OPEN_EXISTING)) {
    result.end = EraseVerification::End::DriveNotOpened;
    return result;
  }
  const std::unique_ptr<BlockQueue> queue = platform.openBlockQueue(drive.handle(), BlockDirection::Read, sectorSize);
  if (!queue) {
    result.end = EraseVerification::End::DriveNotOpened;
    return result;
  }
  size_t span = 0;
  uint64_t at = spans.empty() ? 0 : spans.front().first;
  const auto nextBlock = [&]() -> std::optional<PlannedBlock> {
    while (span < spans.size() && at >= spans[span].end) {
      if (++span < spans.size()) at = spans[span].first;
    }
    if (span >= spans.size()) return std::nullopt;
    const PlannedBlock block{at, std::min(blockSectors, spans[span].end - at)};
    at += block.count;
    return block;
  };
  // The read-back keeps no block times, so nothing is lost by a deep queue on any disk.
  const PipelineShape shape = pipelineShape(queue->limits(), kVerifyBlockBytes, false, TransferPace::Deep);
  BlockPipeline pipeline(*queue, shape, sectorSize, kVerifyBlockBytes, false, nextBlock);
  if (!pipeline.valid()) {
    result.end = EraseVerification::End::NoBuffer;
    return result;
  }

  TemperatureWatch unwatched;
  DriveThermometer thermometer(platform, record, temperature.miniportMode, temperature.raidMemberSelect);
  TemperatureGuard guard(platform, thermometer, temperature.watch != nullptr ? *temperature.watch : unwatched,
                         temperature.watch != nullptr,
                         {[&pipeline] { pipeline.settle(); }, {}, {}, [&stop] { return stop.load(); }});

  ReadBack readBack(drive, sector.get(), sectorSize, stop, result);
  VerifyProgress done{0, result.sectorsToCheck, 0};
  for (;;) {
    if (!guard.between()) {
      result.end = EraseVerification::End::Stopped;
      return result;
    }
    const std::optional<BlockResult> r = pipeline.next();
    if (!r) break;
    const PlannedBlock& block = r->block;
    if (!readBack.block(block.start, block.count, r->ok ? r->data : nullptr)) {
      result.end = EraseVerification::End::Stopped;
      return result;
    }
    done.sectorsDone += block.count;
    done.lastSector = block.start + block.count - 1;
    if (progress) progress(done);
  }
  return result;
}

}  // namespace palvoro
