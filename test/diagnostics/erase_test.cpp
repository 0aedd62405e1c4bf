// The erase on the simulated machine: which sectors the quick and full forms zero (read
// from the media and from every write the drive received), TRIM for the marked drives,
// the fixed order on a dual-unit drive, write errors, the outcome, and the dismount.

#include "diagnostics/erase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "diagnostics/scan_test_support.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_platform.h"
#include "results/result_page.h"

namespace palvoro {
namespace {

using diagtest::Prompt;
using Strings = std::vector<std::string>;

// Sectors [first, end).
struct Span {
  uint64_t first = 0;
  uint64_t end = 0;
  bool operator==(const Span&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Span& s) { return out << "[" << s.first << ", " << s.end << ")"; }

// The simulator plus a record of every write a drive handle received: where it began and
// how many sectors it asked for. The simulator's own log keeps the data of each write, far
// too much for erases of millions of sectors, so those tests switch it off and read this.
class WriteTracingPlatform : public sim::SimPlatform {
 public:
  using SimPlatform::SimPlatform;

  uint32_t setFilePointer(Handle handle, int32_t low, int32_t* high, uint32_t method) override {
    const uint32_t r = SimPlatform::setFilePointer(handle, low, high, method);
    if (r != INVALID_SET_FILE_POINTER || lastError() == ERROR_SUCCESS) {
      m_position[handle] = (static_cast<uint64_t>(static_cast<uint32_t>(high != nullptr ? *high : 0)) << 32) | r;
    }
    return r;
  }
  bool writeFile(Handle handle, const void* buffer, uint32_t size, uint32_t* written) override {
    const uint64_t at = m_position[handle];
    const bool ok = SimPlatform::writeFile(handle, buffer, size, written);
    writes.push_back({at / sectorSize, (at + size) / sectorSize});
    if (ok) m_position[handle] = at + size;
    return ok;
  }

  // The erase's transfers go one at a time through setFilePointer and writeFile, where
  // they are traced.
  std::unique_ptr<BlockQueue> openBlockQueue(Handle handle, BlockDirection direction, uint32_t block) override {
    return Platform::openBlockQueue(handle, direction, block);
  }

  uint32_t sectorSize = 512;
  std::vector<Span> writes;  // every write tried, in order

 private:
  std::map<Handle, uint64_t> m_position;
};

// The spans the writes covered, merged and in order.
std::vector<Span> covered(std::vector<Span> writes) {
  std::sort(writes.begin(), writes.end(), [](const Span& a, const Span& b) { return a.first < b.first; });
  std::vector<Span> out;
  for (const Span& w : writes) {
    if (!out.empty() && w.first <= out.back().end) {
      out.back().end = std::max(out.back().end, w.end);
    } else {
      out.push_back(w);
    }
  }
  return out;
}

const std::vector<uint8_t> kPattern(512, 0xA5);

class EraseTest : public ::testing::Test {
 protected:
  // A Vista-or-later machine with `record` selected and an erase run begun on it.
  void load(sim::SimMachine machine, const DriveRecord& record, int32_t eraseMode, bool logging = true) {
    run.reset();
    context.reset();
    platform = std::make_unique<WriteTracingPlatform>(std::move(machine));
    platform->setLogging(logging);
    context = std::make_unique<AppContext>(*platform, prompter);
    context->startup().osIsVistaOrLater = 1;
    context->driveTable().records = {record};
    context->driveTable().selectedDrive = 0;
    values().testKind = kTestKindErase;
    values().testState = kTestStateRunning;
    values().testError = kTestErrorNone;
    values().eraseMode = eraseMode;
    run = std::make_unique<TestRun>(context->testRunEnvironment(), view, clock);
    run->begin();
    view.clear();
    platform->clearLog();
  }
  // An ordinary drive of `sectors` sectors with data in `marked`.
  void loadDrive(uint64_t sectors, int32_t eraseMode, std::vector<uint64_t> marked, bool logging = true) {
    load(scantest::oneDrive(sectors), scantest::driveRecord(sectors), eraseMode, logging);
    for (uint64_t s : marked) media().write(s, 1, kPattern.data());
  }

  TestRunValues& values() { return context->testRun(); }
  sim::SimMedia& media(int unit = 0) { return platform->drive(0).ata.units.at(unit).media; }
  bool holdsData(uint64_t sector, int unit = 0) { return media(unit).anyData(sector, 1); }

  // The ATA commands the drive received through pass-through: the command byte and the
  // unit (high nibble of the previous LBA high register).
  struct AtaSeen {
    uint8_t command;
    uint8_t unit;
    std::vector<uint8_t> data;  // the 512-byte data-out block
  };
  std::vector<AtaSeen> ataCommands() const {
    std::vector<AtaSeen> out;
    for (const sim::SimRequest& r : platform->ioctls(IOCTL_ATA_PASS_THROUGH)) {
      if (r.input.size() < 40) continue;
      std::vector<uint8_t> data;
      if (r.input.size() >= 552) data.assign(r.input.begin() + 40, r.input.begin() + 552);
      out.push_back({r.input[38], static_cast<uint8_t>(r.input[28] >> 4), data});
    }
    return out;
  }
  // The steps the drive saw, from the request log, each run of equal ones told once:
  // writes below `secondUnitFrom` are "zeros unit 0", the others "zeros unit 2".
  Strings steps(uint64_t secondUnitFrom = UINT64_MAX) const {
    Strings out;
    for (const sim::SimRequest& r : platform->log()) {
      std::string what;
      if (r.kind == sim::SimRequest::Kind::Write) {
        what = r.position / 512 < secondUnitFrom ? "zeros unit 0" : "zeros unit 2";
      } else if (r.kind == sim::SimRequest::Kind::Ioctl && r.code == IOCTL_DISK_DELETE_DRIVE_LAYOUT) {
        what = "delete layout";
      } else if (r.kind == sim::SimRequest::Kind::Ioctl && r.code == IOCTL_DISK_UPDATE_PROPERTIES) {
        what = "refresh";
      } else if (r.kind == sim::SimRequest::Kind::Ioctl && r.code == IOCTL_ATA_PASS_THROUGH && r.input.size() >= 40) {
        const uint8_t command = r.input[38];
        const std::string unit = std::to_string(r.input[28] >> 4);
        if (command == 0xB4 && r.input[32] == 0x12) what = "sanitize unit " + std::to_string(r.input[24] >> 4);
        if (command == 0x06) what = "trim unit " + unit;
        if (command == 0x07) what = "trim xl unit " + unit;
        // SCT command C013h, function 1.
        if (command == 0xB0 && r.input[32] == 0xD6 && r.input.size() >= 43 && r.input[40] == 0x13 &&
            r.input[41] == 0xC0 && r.input[42] == 1) {
          what = "switch on";
        }
      }
      if (!what.empty() && (out.empty() || out.back() != what)) out.push_back(what);
    }
    return out;
  }

  diagtest::RecordingPrompter prompter;
  diagtest::RecordingRunEvents view;
  diagtest::ManualClock clock;
  std::unique_ptr<WriteTracingPlatform> platform;
  std::unique_ptr<AppContext> context;
  std::unique_ptr<TestRun> run;
};

uint64_t le64(const std::vector<uint8_t>& b, size_t at) {
  uint64_t v = 0;
  for (size_t i = 0; i < 8; ++i) v |= static_cast<uint64_t>(b[at + i]) << (8 * i);
  return v;
}

// ---------------------------------------------------------------------------------
// Quick erase: a fifth of the drive at each end, at most 1,000,000 sectors each, placed
// block by block as the sector loop places them.

struct QuickCase {
  const char* name;
  uint64_t sectors;
  uint64_t regionLength;
  std::vector<Span> zeroed;
};

class QuickEraseTest : public EraseTest, public ::testing::WithParamInterface<QuickCase> {};

TEST_P(QuickEraseTest, ZeroesTheFirstAndLastRegionAndNothingElse) {
  const QuickCase& c = GetParam();
  // Data just inside and just outside each edge of both regions.
  std::vector<uint64_t> marked;
  for (const Span& z : c.zeroed) {
    for (uint64_t s : {z.first - 1, z.first, z.end - 1, z.end}) {
      if (s < c.sectors) marked.push_back(s);
    }
  }
  loadDrive(c.sectors, 0, marked, false);

  eraseBranch(*run);

  EXPECT_EQ(values().regionLength.load(), c.regionLength);
  EXPECT_EQ(covered(platform->writes), c.zeroed);
  for (uint64_t s : marked) {
    const bool inside = std::any_of(c.zeroed.begin(), c.zeroed.end(),
                                    [&](const Span& z) { return s >= z.first && s < z.end; });
    EXPECT_EQ(holdsData(s), !inside) << "sector " << s;
  }
  EXPECT_EQ(values().testState.load(), kTestStateComplete);
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Drives, QuickEraseTest,
    ::testing::Values(
        // Blocks 0..2343 end at 600,063; the second region starts at 3,000,000 - 600,000.
        QuickCase{"ThreeMillionSectors", 3'000'000, 600'000, {{0, 600'064}, {2'400'000, 3'000'000}}},
        // 7,813 blocks: 3,907 in front (to 1,000,191), then from the middle block, which
        // the loop counts from 99,000,000 + 256.
        QuickCase{"HundredMillionSectors", 100'000'000, 1'000'000, {{0, 1'000'192}, {99'000'000, 100'000'000}}}),
    [](const ::testing::TestParamInfo<QuickCase>& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------------
// Full erase: the whole test range, from hiddenSectors when unit 2 is tested.

struct FullCase {
  const char* name;
  uint8_t primaryUnit;
  uint64_t hidden;
};

class FullEraseTest : public EraseTest, public ::testing::WithParamInterface<FullCase> {};

TEST_P(FullEraseTest, ZeroesTheWholeTestRangeAndNothingOutside) {
  const FullCase& c = GetParam();
  constexpr uint64_t kTotal = 5000;
  constexpr uint64_t kBehind = 100;  // media past the test range
  const uint64_t first = c.primaryUnit == 2 ? c.hidden : 0;
  const uint64_t end = first + kTotal;
  sim::SimMachine machine = scantest::oneDrive(end + kBehind);
  scantest::addVolume(machine, 'D', first + 63, kTotal - 63);
  DriveRecord record = scantest::driveRecord(kTotal);
  record.primaryUnit = c.primaryUnit;
  record.secondaryUnit = c.primaryUnit == 2 ? 0 : 2;
  record.hiddenSectors = c.hidden;
  record.volumeCount = 1;
  record.volumeLetters[0] = 'D';
  // The drive takes no TRIM (the second unit's release after the erase), so whatever
  // changes outside the range can only have been written.
  machine.drives[0].ata.units[0].identify[169] &= 0xFFFE;
  sim::setIdentifyChecksum(machine.drives[0].ata.units[0].identify);
  load(std::move(machine), record, 1);
  for (uint64_t s = 1; s < end + kBehind; ++s) media().write(s, 1, kPattern.data());
  const size_t before = media().storedSectors();

  writeZerosErase(*run);

  EXPECT_EQ(covered(platform->writes), (std::vector<Span>{{first, end}}));
  EXPECT_FALSE(media().anyData(first, kTotal));
  EXPECT_EQ(media().storedSectors(), before - kTotal);
  EXPECT_TRUE(holdsData(end));
  EXPECT_TRUE(platform->volume('D').removed) << "partition table still there";
  EXPECT_EQ(values().testState.load(), kTestStateComplete);
  EXPECT_EQ(values().testError.load(), kTestErrorNone);
  EXPECT_EQ(view.texts(diagtest::Shown::Status), (Strings{"Running Full Erase...", "Test completed successfully."}));
  EXPECT_EQ(view.activities().back(), RunActivity::Success);
  EXPECT_EQ(view.percents().back(), 100);
  EXPECT_EQ(view.ends().size(), 1u);
  EXPECT_TRUE(run->schedule().armedTimers().empty());
  EXPECT_EQ(platform->ioctls(IOCTL_DISK_UPDATE_PROPERTIES).size(), 1u);
  EXPECT_TRUE(prompter.prompts().empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Units, FullEraseTest,
                         ::testing::Values(FullCase{"FirstUnit", 0, 0}, FullCase{"UnitTwoBehindHiddenSectors", 2, 700}),
                         [](const ::testing::TestParamInfo<FullCase>& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------------
// TRIM for the drives hybridFlags marks.

struct TrimCase {
  const char* name;
  uint32_t hybridFlags;
  uint8_t command;
  uint8_t primaryUnit;
  uint64_t hidden;
};

class QuickTrimEraseTest : public EraseTest, public ::testing::WithParamInterface<TrimCase> {};

TEST_P(QuickTrimEraseTest, OneDataSetManagementOverTheRangeAndNoWrite) {
  const TrimCase& c = GetParam();
  constexpr uint64_t kTotal = 40'000;  // one TRIM entry holds it
  const uint64_t first = c.primaryUnit == 2 ? c.hidden : 0;
  DriveRecord record = scantest::driveRecord(kTotal);
  record.hybridFlags = c.hybridFlags;
  record.primaryUnit = c.primaryUnit;
  record.hiddenSectors = c.hidden;
  load(scantest::oneDrive(first + kTotal), record, 0);
  platform->drive(0).ata.dsmXl = true;
  for (uint64_t s : {first, first + kTotal - 1}) media().write(s, 1, kPattern.data());

  writeZerosErase(*run);

  std::vector<AtaSeen> dsm;
  for (const AtaSeen& a : ataCommands()) {
    if (a.command == 0x06 || a.command == 0x07) dsm.push_back(a);
  }
  // A drive with hidden sectors has its second unit (here unit 0, sectors 0 to
  // hiddenSectors) trimmed after the erase as well.
  ASSERT_EQ(dsm.size(), first > 0 ? 2u : 1u);
  EXPECT_EQ(dsm[0].command, c.command);
  EXPECT_EQ(dsm[0].unit, c.primaryUnit);
  if (c.command == 0x07) {
    // One 16-byte entry: start, then the count, each 64 bits.
    EXPECT_EQ(le64(dsm[0].data, 0), first);
    EXPECT_EQ(le64(dsm[0].data, 8), kTotal);
  } else {
    // One 8-byte entry: 48-bit start, 16-bit count.
    EXPECT_EQ(le64(dsm[0].data, 0), first | (kTotal << 48));
  }
  if (first > 0) {
    EXPECT_EQ(dsm[1].command, 0x06);
    EXPECT_EQ(dsm[1].unit, 0);
    EXPECT_EQ(le64(dsm[1].data, 0), first << 48);
  }
  EXPECT_TRUE(platform->writes.empty());
  EXPECT_TRUE(platform->ioctls(IOCTL_DISK_DELETE_DRIVE_LAYOUT).empty());
  EXPECT_FALSE(media().anyData(first, kTotal));
  EXPECT_TRUE(prompter.prompts().empty());
  EXPECT_EQ(values().testState.load(), kTestStateComplete);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, QuickTrimEraseTest,
    ::testing::Values(TrimCase{"LogCapabilityUsesXl", kHybridLogCapability, 0x07, 0, 0},
                      TrimCase{"TrimRotatingUsesPlainTrim", kHybridTrimRotating, 0x06, 0, 0},
                      // The range of unit 2 starts behind the hidden sectors and ends
                      // with the drive, not hiddenSectors past it.
                      TrimCase{"UnitTwoFromHiddenSectors", kHybridLogCapability, 0x07, 2, 3000}),
    [](const ::testing::TestParamInfo<TrimCase>& param) { return std::string(param.param.name); });

TEST_F(EraseTest, FullEraseOfAMarkedDriveTrimsBeforeAndAfterTheZeros) {
  DriveRecord record = scantest::driveRecord(2000);
  record.hybridFlags = kHybridLogCapability;
  load(scantest::oneDrive(2000), record, 1);
  platform->drive(0).ata.dsmXl = true;

  writeZerosErase(*run);

  EXPECT_EQ(steps(), (Strings{"delete layout", "trim xl unit 0", "zeros unit 0", "trim xl unit 0", "refresh"}));
  EXPECT_EQ(covered(platform->writes), (std::vector<Span>{{0, 2000}}));
  EXPECT_EQ(values().testState.load(), kTestStateComplete);
}

// A run bound to the drive the user chose erases it, and nothing of a drive plugged in at
// its number since, even the same one again: that is not the drive the user confirmed.
TEST_F(EraseTest, ABoundEraseWritesNothingOnADrivePluggedInAtItsNumberSince) {
  for (const bool replugged : {false, true}) {
    SCOPED_TRACE(replugged ? "replugged" : "the same");
    loadDrive(2000, 1, {0, 1999});
    context->bindRuns(driveInstanceAt(*platform, 0));
    run = std::make_unique<TestRun>(context->testRunEnvironment(), view, clock);
    run->begin();
    if (replugged) {
      platform->machine().plug(0, false);
      platform->machine().plug(0, true);
    }
    platform->clearLog();

    writeZerosErase(*run);

    EXPECT_EQ(covered(platform->writes), (replugged ? std::vector<Span>{} : std::vector<Span>{{0, 2000}}));
    EXPECT_EQ(holdsData(0), replugged);
    EXPECT_EQ(holdsData(1999), replugged);
    EXPECT_EQ(values().testError.load(), replugged ? kTestErrorNoDrive : kTestErrorNone);
    EXPECT_EQ(values().testState.load(), replugged ? kTestStateFail : kTestStateComplete);
  }
}

// A stop during the zero pass still sends the closing TRIM: the first one released the
// whole range and the zeros rewrote only part of it.
TEST_F(EraseTest, AStoppedFullEraseOfAMarkedDriveStillTrimsAfterTheZeros) {
  DriveRecord record = scantest::driveRecord(2000);
  record.hybridFlags = kHybridLogCapability;
  load(scantest::oneDrive(2000), record, 1);
  platform->drive(0).ata.dsmXl = true;
  view.onCall = [&](const diagtest::EventCall& c) {
    if (c.progress.percent.value_or(0) > 30) values().stopRequest = 1;
  };

  writeZerosErase(*run);

  EXPECT_EQ(steps(), (Strings{"delete layout", "trim xl unit 0", "zeros unit 0", "trim xl unit 0"}));
  EXPECT_LT(platform->writes.size(), 8u);  // the zeros stopped early
  EXPECT_EQ(values().testState.load(), kTestStateAbort);
  EXPECT_EQ(values().testError.load(), kTestErrorStopped);
  EXPECT_TRUE(platform->ioctls(IOCTL_DISK_UPDATE_PROPERTIES).empty());
}

// ---------------------------------------------------------------------------------
// A dual-unit drive: delete layout, the second unit (sanitize, or zeros when refused),
// the first unit's zeros, the SCT switch-on and TRIM of the second unit, the refresh.

struct DualUnitCase {
  const char* name;
  bool sanitizes;         // the second unit takes SANITIZE BLOCK ERASE EXT
  int32_t eraseMode;
  std::vector<Span> zeroed;
};

class DualUnitEraseTest : public EraseTest, public ::testing::WithParamInterface<DualUnitCase> {};

TEST_P(DualUnitEraseTest, StepsComeInTheFixedOrder) {
  const DualUnitCase& c = GetParam();
  constexpr uint64_t kFirst = 3000;   // tested unit, sectors 0..2999 of the disk
  constexpr uint64_t kSecond = 1000;  // second unit, behind it on the disk
  sim::SimMachine machine = scantest::oneDrive(kFirst + kSecond, kSecond);
  sim::SimAtaDrive& ata = machine.drives[0].ata;
  ata.sctVendorSwitch = true;
  if (c.sanitizes) ata.units[2].identify[59] |= 0x9000;  // sanitize feature set, block erase
  sim::setIdentifyChecksum(ata.units[2].identify);
  DriveRecord record = scantest::driveRecord(kFirst);
  record.hiddenSectors = kSecond;
  record.primaryUnit = 0;
  record.secondaryUnit = 2;
  load(std::move(machine), record, c.eraseMode);
  media(2).write(500, 1, kPattern.data());

  eraseBranch(*run);

  Strings expected{"delete layout", "sanitize unit 2"};
  if (!c.sanitizes) expected.push_back("zeros unit 2");
  for (const char* step : {"delete layout", "zeros unit 0", "switch on", "trim unit 2", "refresh"}) {
    expected.push_back(step);
  }
  EXPECT_EQ(steps(kFirst), expected);

  // The second unit's zeros go in blocks of 32 sectors, all of it whatever the mode.
  std::vector<Span> second;
  for (const Span& w : platform->writes) {
    if (w.first >= kFirst) second.push_back(w);
  }
  if (c.sanitizes) {
    EXPECT_TRUE(second.empty());
  } else {
    ASSERT_EQ(second.size(), 32u);
    EXPECT_EQ(second[0], (Span{3000, 3032}));
    EXPECT_EQ(second[31], (Span{3992, 4000}));
  }
  EXPECT_EQ(covered(platform->writes), c.zeroed);
  EXPECT_FALSE(media(2).anyData(0, kSecond)) << "second unit neither sanitized nor trimmed";
  EXPECT_TRUE(platform->drive(0).ata.switched);
  // A sanitize is announced as a minute; zeros behind the first unit, under 16 GB, as five.
  const Strings estimates = view.texts(diagtest::Shown::Estimate);
  ASSERT_GE(estimates.size(), 2u);
  EXPECT_EQ(estimates[0], "Estimated Time: 1 minute(s)");
  EXPECT_EQ(estimates[1], c.sanitizes ? "Estimated Time Remaining: 00:00:00" : "Estimated Time: 5 minute(s)");
  EXPECT_EQ(values().testState.load(), kTestStateComplete);
  EXPECT_TRUE(run->schedule().armedTimers().empty());
  EXPECT_EQ(run->sectorsPerBlock, kSectorsPerBlock);
  EXPECT_EQ(values().eraseMode.load(), c.eraseMode);
  EXPECT_TRUE(prompter.prompts().empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    SecondUnit, DualUnitEraseTest,
    ::testing::Values(DualUnitCase{"SanitizedThenFullErase", true, 1, {{0, 3000}}},
                      // Quick erase of 3,000 sectors: regions of 600, blocks from 0 to 767 and
                      // from 2,400 + 256; the refused sanitize leaves the whole second unit to zeros.
                      DualUnitCase{"ZeroedWhenSanitizeIsRefusedThenQuickErase", false, 0, {{0, 768}, {2400, 4000}}}),
    [](const ::testing::TestParamInfo<DualUnitCase>& param) { return std::string(param.param.name); });

TEST_F(EraseTest, FailedSecondUnitEndsWithCode17BeforeTheFirstUnit) {
  DriveRecord record = scantest::driveRecord(3000);
  record.hiddenSectors = 1000;
  record.secondaryUnit = 2;
  load(scantest::oneDrive(4000, 1000), record, 1);
  media().markUnwritable(3100);
  prompter.script({PromptAnswer::No});

  eraseBranch(*run);

  // Blocks of 32 from 3,000: the fourth, 3,096 to 3,127, holds the bad sector.
  EXPECT_EQ(covered(platform->writes), (std::vector<Span>{{3000, 3128}}));
  EXPECT_EQ(prompter.prompts(),
            (std::vector<Prompt>{{"Sector #3096-3127::Erase error! Continue?", "ERASE", PromptIcon::Warning,
                                  PromptButtons::YesNo, PromptAnswer::No, PromptPurpose::destroysDataOn(0)},
                                 {"Erase::Erase error!", "PALVORO for Windows", PromptIcon::Stop, PromptButtons::Ok}}));
  EXPECT_EQ(values().testError.load(), kTestErrorErase);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_EQ(view.lastText(diagtest::Shown::Status), "Test stopped with error(s).");
  EXPECT_EQ(view.ends().size(), 1u);
  EXPECT_TRUE(platform->ioctls(IOCTL_DISK_UPDATE_PROPERTIES).empty());
}

// ---------------------------------------------------------------------------------
// Outcomes.

struct WriteErrorCase {
  const char* name;
  PromptAnswer answer;
  std::vector<Span> zeroed;
};

class EraseWriteErrorTest : public EraseTest, public ::testing::WithParamInterface<WriteErrorCase> {};

// Yes goes on over the rest of the drive, but the run still ends as FAIL with code 9:
// a sector was left unerased.
TEST_P(EraseWriteErrorTest, AsksAndEndsAsFailWithCode9) {
  loadDrive(2000, 1, {1999});
  media().markUnwritable(300);
  prompter.script({GetParam().answer});

  eraseBranch(*run);

  EXPECT_EQ(prompter.texts(), Strings{"Sector #256-511::Erase error! Continue?"});
  EXPECT_EQ(covered(platform->writes), GetParam().zeroed);
  EXPECT_EQ(holdsData(1999), GetParam().answer == PromptAnswer::No);
  EXPECT_EQ(values().testError.load(), kTestErrorWrite);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_EQ(values().lastErrorMessage(), "Sector #256-511::Erase error!");
  EXPECT_EQ(view.lastText(diagtest::Shown::Status), "Test stopped with error(s).");
  EXPECT_EQ(view.activities().back(), RunActivity::Failure);
  EXPECT_EQ(view.ends().size(), 1u);
  EXPECT_EQ(platform->ioctls(IOCTL_DISK_UPDATE_PROPERTIES).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Answers, EraseWriteErrorTest,
                         ::testing::Values(WriteErrorCase{"No", PromptAnswer::No, {{0, 512}}},
                                           WriteErrorCase{"Yes", PromptAnswer::Yes, {{0, 2000}}}),
                         [](const ::testing::TestParamInfo<WriteErrorCase>& param) {
                           return std::string(param.param.name);
                         });

// Every write went through, but the drive's cache lost them: the erase is not COMPLETE.
TEST_F(EraseTest, WritesTheDriveDoesNotConfirmFailTheErase) {
  loadDrive(2000, 0, {});
  sim::SimFault fault;
  fault.drive = 0;
  fault.onFlush = true;
  fault.error = ERROR_WRITE_FAULT;
  platform->injectFault(fault);

  eraseBranch(*run);

  EXPECT_TRUE(prompter.texts().empty());
  EXPECT_EQ(values().testError.load(), kTestErrorWrite);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_EQ(values().lastErrorMessage(), "Sector #0-1999::Erase error!");
  EXPECT_EQ(view.lastText(diagtest::Shown::Status), "Test stopped with error(s).");
}

// A drive that leaves in the middle ends the erase at once as gone, not with a question
// for every block left.
TEST_F(EraseTest, ADriveThatVanishesEndsTheEraseAsGone) {
  loadDrive(2000, 1, {});
  sim::SimFault fault;
  fault.drive = 0;
  fault.kind = sim::SimFault::Kind::Vanish;
  fault.onWrite = true;
  fault.skip = 2;
  platform->injectFault(fault);

  eraseBranch(*run);

  ASSERT_FALSE(prompter.texts().empty());
  for (const std::string& t : prompter.texts()) EXPECT_EQ(t.find("Continue?"), std::string::npos) << t;
  EXPECT_NE(prompter.texts()[0].find("Cannot communicate with drive"), std::string::npos) << prompter.texts()[0];
  EXPECT_EQ(values().testError.load(), kTestErrorNoDrive);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
}

TEST_F(EraseTest, SuccessIsCompleteInGreenOnTheResultPage) {
  loadDrive(2000, 0, {});
  eraseBranch(*run);
  ASSERT_EQ(values().testState.load(), kTestStateComplete);
  ASSERT_TRUE(
      appendResultBlock(context->resultLines(), context->testRun(), context->selectedRecord(), clock.localTime()));
  const std::vector<std::string>& lines = context->resultLines().lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("<font color=009933><b>COMPLETE</b></font>") != std::string::npos;
  }));
}

TEST_F(EraseTest, StopLeavesTheClosingToTheTimer) {
  loadDrive(2000, 1, {});
  values().stopRequest = 1;
  writeZerosErase(*run);
  EXPECT_TRUE(platform->writes.empty());
  EXPECT_EQ(values().testState.load(), kTestStateAbort);
  EXPECT_TRUE(view.ends().empty());
  EXPECT_EQ(run->schedule().armedTimers(), std::vector<int>{kTimerErase});  // its stop path closes the run
  EXPECT_TRUE(platform->ioctls(IOCTL_DISK_UPDATE_PROPERTIES).empty());
}

struct LayoutCase {
  const char* name;
  bool vista;
  bool vanished;  // the drive does not open
  int result;
  Strings prompts;
};

class DeleteLayoutTest : public EraseTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(DeleteLayoutTest, ResultAndMessage) {
  const LayoutCase& c = GetParam();
  loadDrive(2000, 1, {});
  context->startup().osIsVistaOrLater = c.vista ? 1 : 0;
  if (c.vanished) {
    platform->drive(0).present = false;
  } else {
    sim::SimFault fault;
    fault.ioctl = IOCTL_DISK_DELETE_DRIVE_LAYOUT;
    platform->injectFault(fault);
  }
  EXPECT_EQ(deleteDriveLayoutStep(*run), c.result);
  EXPECT_EQ(values().testError.load(), c.result);
  EXPECT_EQ(prompter.texts(), c.prompts);
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DeleteLayoutTest,
    ::testing::Values(
        LayoutCase{"DriveDoesNotOpen", true, true, 4, {" Cannot communicate with drive 1! Check device connection."}},
        LayoutCase{"RefusedFromVista", true, false, 20, {" Delete Partitions error!"}},
        LayoutCase{"RefusedBeforeVista", false, false, 0, {}}),
    [](const ::testing::TestParamInfo<LayoutCase>& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------------
// The dismount before erase reaches the erased drive's volumes only.

TEST(DismountBeforeEraseTest, OnlyTheErasedDrivesVolumesButNotTheSystemOne) {
  sim::SimMachine machine = scantest::oneDrive(100'000);
  sim::SimDrive other = machine.drives[0];
  other.number = 1;
  machine.drives.push_back(other);
  machine.windowsDirectory = "c:\\windows";
  const auto volume = [&](char letter, int drive, uint32_t partition, uint32_t type) {
    scantest::addVolume(machine, letter, 63 + 10'000 * (partition - 1), 9000);
    machine.volumes.back().drive = drive;
    machine.volumes.back().partitionNumber = partition;
    machine.volumes.back().driveType = type;
  };
  volume('C', 1, 1, DRIVE_FIXED);      // the system volume, on the erased drive
  volume('D', 0, 1, DRIVE_FIXED);      // another drive's volume
  volume('E', 1, 2, DRIVE_FIXED);
  volume('F', 1, 3, DRIVE_REMOVABLE);
  volume('G', 0, 2, DRIVE_FIXED);
  volume('H', 1, 4, DRIVE_FIXED);
  sim::SimPlatform platform(std::move(machine));
  DriveRecord record = scantest::driveRecord(100'000);
  record.physicalDriveNumber = 1;

  dismountVolumesBeforeErase(platform, record);

  Strings dismounted;
  for (const sim::SimRequest& r : platform.ioctls(FSCTL_DISMOUNT_VOLUME)) dismounted.push_back(r.path);
  EXPECT_EQ(dismounted, (Strings{"\\\\.\\E:", "\\\\.\\H:"}));
  for (char letter : {'C', 'D', 'F', 'G'}) EXPECT_TRUE(platform.volume(letter).mounted) << letter;
  for (char letter : {'E', 'H'}) EXPECT_FALSE(platform.volume(letter).mounted) << letter;
  // No other volume was opened for reading or writing.
  for (const sim::SimRequest& r : platform.log()) {
    if (r.kind == sim::SimRequest::Kind::Open && r.access != 0) {
      EXPECT_TRUE(r.path == "\\\\.\\E:" || r.path == "\\\\.\\H:") << r.path;
    }
  }
  EXPECT_EQ(platform.openHandleCount(), 0u);
}

}  // namespace
}  // namespace palvoro
