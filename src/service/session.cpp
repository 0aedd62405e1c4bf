#include "service/session.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "results/result_page.h"
#include "smart/smart_pages.h"

namespace palvoro {

Session::Session(Platform& platform, Prompter& prompter) : m_platform(platform), m_prompter(prompter) {
  clearDriveTable(m_driveTable);
}

ProbeEnvironment Session::probeEnvironment() {
  return ProbeEnvironment{m_platform,       m_prompter,
                          m_startup.miniportMode != 0,
                          m_complianceTable.loaded() ? &m_complianceTable : nullptr,
                          m_raidMemberSelect, &judgeSmartAttributes};
}

TestRunEnvironment Session::testRunEnvironment() {
  const int index = m_driveTable.selectedDrive;
  return TestRunEnvironment{m_platform, m_prompter, m_startup, m_raidMemberSelect,
                            selectedRecord(), index, m_testRun, m_boundDrive ? &*m_boundDrive : nullptr};
}

DriveRecord& Session::selectedRecord() {
  // Acting on another drive than the one asked for could erase the wrong disk: a bad
  // index is the caller's mistake and stops here.
  const int index = m_driveTable.selectedDrive;
  if (index < 0 || index >= m_driveTable.driveCount()) {
    throw std::out_of_range("no drive at index " + std::to_string(index) + " of " +
                            std::to_string(m_driveTable.driveCount()));
  }
  return m_driveTable.records[static_cast<size_t>(index)];
}

namespace {

// A drive's model and serial number, without the blanks drives pad them with.
std::string scanMapKey(const DriveRecord& record) {
  return trimmedField(record.model, sizeof record.model) + '\n' +
         trimmedField(record.serialNumber, sizeof record.serialNumber);
}

}  // namespace

std::vector<std::string> Session::appendResult(const TestRunValues& run, const DriveRecord& drive, const std::tm& time,
                                               const EraseVerification* verification,
                                               const std::vector<std::string>& extraRows) {
  std::lock_guard lock(m_resultMutex);
  const size_t before = m_resultLines.count();
  if (!appendResultBlock(m_resultLines, run, drive, time, verification, extraRows)) return {};
  const std::vector<std::string>& lines = m_resultLines.lines();
  return {lines.begin() + static_cast<long>(before), lines.end()};
}

ResultLines Session::resultLinesNow() const {
  std::lock_guard lock(m_resultMutex);
  return m_resultLines;
}

void Session::makeRoomForRuns(size_t runs) {
  std::lock_guard lock(m_resultMutex);
  m_resultLines.widen(m_resultLines.room() + runs * kResultLineSlots);
}

void Session::keepScanMap(const DriveRecord& record, const BlockLatencyMap& map) {
  std::lock_guard lock(m_resultMutex);
  if (map.blocks() > 0) m_scanMaps[scanMapKey(record)] = map;
}

std::optional<BlockLatencyMap> Session::scanMapCopyOf(const DriveRecord& record) const {
  std::lock_guard lock(m_resultMutex);
  const auto found = m_scanMaps.find(scanMapKey(record));
  if (found == m_scanMaps.end()) return std::nullopt;
  return found->second;
}

const BlockLatencyMap* Session::scanMapOf(const DriveRecord& record) const {
  std::lock_guard lock(m_resultMutex);
  const auto found = m_scanMaps.find(scanMapKey(record));
  return found == m_scanMaps.end() ? nullptr : &found->second;
}

}  // namespace palvoro
