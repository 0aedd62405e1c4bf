// The sector loop's erase forms (zeros, TRIM, TRIM XL), its seek failure and the two-region
// placement of every quick loop, on the simulated machine. The read forms are covered
// through the media scan and random read.

#include "diagnostics/sector_loop.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "diagnostics/erase.h"
#include "diagnostics/media_scan.h"
#include "diagnostics/scan_test_support.h"
#include "platform/ioctl_codes.h"

namespace palvoro {
namespace {

using diagtest::Prompt;
using scantest::Transfer;

constexpr auto kWrite = sim::SimRequest::Kind::Write;

class SectorLoopTest : public scantest::ScanTest {
 protected:
  // A 2,000-sector drive whose volume D: covers most of it and is mounted.
  void loadErase(int32_t eraseMode) {
    sim::SimMachine machine = scantest::oneDrive(2000);
    scantest::addVolume(machine, 'D', 63, 1937);
    DriveRecord record = scantest::driveRecord(2000);
    record.volumeCount = 1;
    record.volumeLetters[0] = 'D';
    load(std::move(machine), record, kTestKindErase);
    values().eraseMode = eraseMode;
    const std::vector<uint8_t> pattern(512, 0xA5);
    for (uint64_t s : {5u, 1000u, 1999u}) media().write(s, 1, pattern.data());
  }
  // ATA commands of the DATA SET MANAGEMENT kind (06h or 07h) the drive received.
  int dsmCommands(uint8_t command) const {
    int n = 0;
    for (const sim::SimRequest& r : platform->ioctls(IOCTL_ATA_PASS_THROUGH)) {
      if (r.input.size() >= 40 && r.input[38] == command) ++n;
    }
    return n;
  }
};

// A plan over 0..end, block after block.
SectorPlan linearPlan(int type, uint64_t blocks, uint64_t end) {
  SectorPlan plan;
  plan.type = type;
  plan.end = end;
  plan.blocks = blocks;
  return plan;
}

TEST_F(SectorLoopTest, FullWriteOfZerosCoversTheRangeThroughTheLockedVolume) {
  loadErase(1);
  EXPECT_EQ(sectorLoop(*run, linearPlan(kLoopWriteZeros, 8, 2000)), 0);

  std::vector<Transfer> expected;
  for (uint64_t first = 0; first < 1792; first += 256) expected.push_back({first, 256});
  expected.push_back({1792, 208});
  EXPECT_EQ(transfers(kWrite), expected);
  EXPECT_FALSE(media().anyData(0, 2000));
  EXPECT_EQ(platform->ioctls(FSCTL_LOCK_VOLUME).size(), 1u);
  EXPECT_TRUE(prompter.prompts().empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
  EXPECT_EQ(view->lastText(diagtest::Shown::Sector), "1999 of 1999 (100.00%)");
}

// Every quick loop covers each of its regions whole, on the media: the first and the last
// sector of every region are read (scan) or zeroed (erase, and the zeros of a second unit
// that lies in front of the tested one), and a sector between the regions is not.
enum class QuickLoop { Scan, Erase, FrontUnitErase };

struct QuickLoopCase {
  const char* name;
  QuickLoop loop;
  uint64_t sectors;                // the tested unit, or the second unit in front of it
  std::vector<SectorSpan> regions;  // every region of the run, on the disk
  std::vector<uint64_t> untouched;  // not read, or keeping its data
};

void PrintTo(const QuickLoopCase& c, std::ostream* out) { *out << c.name; }

// Behind a front unit: 2,000 sectors tested, whose regions are 400 sectors.
constexpr uint64_t kBehindFront = 2000;

const QuickLoopCase kQuickLoops[] = {
    {"ScanMillion", QuickLoop::Scan, 1'000'000, {{0, 200'000}, {800'000, 1'000'000}}, {799'999}},
    {"ScanWholeBlocks", QuickLoop::Scan, 1'280'000, {{0, 256'000}, {1'024'000, 1'280'000}}, {1'023'999}},
    {"ScanAtTheLimit", QuickLoop::Scan, 12'000'001, {{0, 2'000'000}, {10'000'001, 12'000'001}}, {10'000'000}},
    {"ScanTiny", QuickLoop::Scan, 7, {{0, 1}, {6, 7}}, {}},
    {"EraseMillion", QuickLoop::Erase, 1'000'000, {{0, 200'000}, {800'000, 1'000'000}}, {200'192, 799'999}},
    {"EraseWholeBlocks", QuickLoop::Erase, 1'280'000, {{0, 256'000}, {1'024'000, 1'280'000}}, {256'000, 1'023'999}},
    // Regions one sector short of two blocks.
    {"EraseRegionOneShortOfBlocks", QuickLoop::Erase, 2555, {{0, 511}, {2044, 2555}}, {512, 2043}},
    {"EraseAtTheLimit", QuickLoop::Erase, 5'000'003, {{0, 1'000'000}, {4'000'003, 5'000'003}}, {4'000'002}},
    // The second unit's regions are a fifth rounded up to 32 sectors, plus 16.
    {"FrontUnitMillion", QuickLoop::FrontUnitErase, 1'000'000,
     {{0, 200'016}, {799'984, 1'000'000}, {1'000'000, 1'000'400}, {1'001'600, 1'002'000}},
     {799'983, 1'001'000}},
    {"FrontUnitOddSize", QuickLoop::FrontUnitErase, 1'000'003,
     {{0, 200'016}, {799'987, 1'000'003}, {1'000'003, 1'000'403}, {1'001'603, 1'002'003}},
     {799'986, 1'001'003}},
    {"FrontUnitAtTheLimit", QuickLoop::FrontUnitErase, 6'000'000,
     {{0, 1'000'016}, {4'999'984, 6'000'000}, {6'000'000, 6'000'400}, {6'001'600, 6'002'000}},
     {4'999'983, 6'001'000}},
    // Regions of 48 that meet: the unit is zeroed whole.
    {"FrontUnitTiny", QuickLoop::FrontUnitErase, 100, {{0, 48}, {52, 100}, {100, 500}, {1700, 2100}}, {1100}},
};

class QuickLoopTest : public scantest::ScanTest, public ::testing::WithParamInterface<QuickLoopCase> {
 protected:
  bool wasRead(uint64_t sector) const {
    for (const Transfer& t : transfers()) {
      if (sector >= t.first && sector < t.first + t.sectors) return true;
    }
    return false;
  }
};

TEST_P(QuickLoopTest, CoversTheFirstAndLastSectorOfEveryRegion) {
  const QuickLoopCase& c = GetParam();
  const bool front = c.loop == QuickLoop::FrontUnitErase;
  const uint64_t disk = front ? c.sectors + kBehindFront : c.sectors;
  sim::SimMachine machine = scantest::oneDrive(disk);
  DriveRecord record = scantest::driveRecord(front ? kBehindFront : c.sectors);
  if (front) {
    record.primaryUnit = 2;
    record.secondaryUnit = 0;
    record.hiddenSectors = c.sectors;
    // No sanitize and no TRIM: whatever the front unit loses, the zeros took.
    machine.drives[0].ata.units[0].identify[169] &= 0xFFFE;
    sim::setIdentifyChecksum(machine.drives[0].ata.units[0].identify);
  }
  load(std::move(machine), record, c.loop == QuickLoop::Scan ? kTestKindQuick : kTestKindErase);
  values().eraseMode = kQuickErase;
  std::vector<uint64_t> edges;
  for (const SectorSpan& r : c.regions) edges.insert(edges.end(), {r.first, r.end - 1});
  const std::vector<uint8_t> pattern(512, 0xA5);
  if (c.loop != QuickLoop::Scan) {
    for (uint64_t s : edges) media().write(s, 1, pattern.data());
    for (uint64_t s : c.untouched) media().write(s, 1, pattern.data());
    // The log would keep every block's zeros.
    platform->setLogging(false);
  }

  if (c.loop == QuickLoop::Scan) {
    mediaScan(*run, true);
    EXPECT_EQ(values().testState.load(), kTestStatePass);
  } else {
    eraseBranch(*run);
    EXPECT_EQ(values().testState.load(), kTestStateComplete);
  }

  for (uint64_t s : edges) {
    EXPECT_TRUE(c.loop == QuickLoop::Scan ? wasRead(s) : !media().anyData(s, 1)) << "sector " << s << " missed";
  }
  for (uint64_t s : c.untouched) {
    EXPECT_TRUE(c.loop == QuickLoop::Scan ? !wasRead(s) : media().anyData(s, 1)) << "sector " << s << " touched";
  }
}

INSTANTIATE_TEST_SUITE_P(Loops, QuickLoopTest, ::testing::ValuesIn(kQuickLoops),
                         [](const auto& p) { return std::string(p.param.name); });

struct EraseErrorCase {
  PromptAnswer answer;
  size_t writes;  // blocks tried before the loop ended
};

class EraseErrorTest : public SectorLoopTest, public ::testing::WithParamInterface<EraseErrorCase> {};

TEST_P(EraseErrorTest, FailedWriteAsksWhetherToContinue) {
  loadErase(1);
  media().markUnwritable(300);
  prompter.script({GetParam().answer});

  EXPECT_EQ(sectorLoop(*run, linearPlan(kLoopWriteZeros, 8, 2000)), kTestErrorWrite);
  EXPECT_EQ(prompter.prompts(), (std::vector<Prompt>{{"Sector #256-511::Erase error! Continue?", "ERASE",
                                                      PromptIcon::Warning, PromptButtons::YesNo, PromptAnswer::No,
                                                      PromptPurpose::destroysDataOn(0)}}));
  EXPECT_EQ(values().lastErrorMessage(), "Sector #256-511::Erase error!");
  EXPECT_EQ(transfers(kWrite).size(), GetParam().writes);
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Answers, EraseErrorTest,
                         ::testing::Values(EraseErrorCase{PromptAnswer::No, 2}, EraseErrorCase{PromptAnswer::Yes, 8}));

TEST_F(SectorLoopTest, TrimTypesSendOneCommandOverTheRange) {
  loadErase(0);
  platform->drive(0).ata.dsmXl = true;
  EXPECT_EQ(trimLoop(*run, kLoopTrim, 0, 2000, true), 0);
  EXPECT_EQ(dsmCommands(0x06), 1);
  EXPECT_FALSE(media().anyData(0, 2000));
  EXPECT_TRUE(transfers(kWrite).empty());

  const std::vector<uint8_t> pattern(512, 0x5A);
  media().write(1999, 1, pattern.data());
  EXPECT_EQ(trimLoop(*run, kLoopTrimXl, 0, 2000, true), 0);
  EXPECT_EQ(dsmCommands(0x07), 1);
  EXPECT_FALSE(media().anyData(0, 2000));
  EXPECT_TRUE(prompter.prompts().empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

TEST_F(SectorLoopTest, RefusedTrimAsksAndNoStopsWithCode9) {
  loadErase(0);
  sim::SimFault fault;
  fault.kind = sim::SimFault::Kind::AtaError;
  fault.command = 0x06;
  platform->injectFault(fault);
  prompter.script({PromptAnswer::No});

  EXPECT_EQ(trimLoop(*run, kLoopTrim, 0, 2000, true), kTestErrorWrite);
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{"Sector #0-255::Erase error! Continue?"});
}

// A view that pulls the drive out when the "Current Sector" line first moves.
class UnpluggingView : public diagtest::RecordingRunEvents {
 public:
  void progress(const RunProgress& p) override {
    RecordingRunEvents::progress(p);
    if (p.sector && platform != nullptr) platform->drive(0).present = false;
  }
  sim::SimPlatform* platform = nullptr;
};

TEST_F(SectorLoopTest, FailedSeekStopsWithCode10) {
  auto unplugging = std::make_unique<UnpluggingView>();
  UnpluggingView* unplug = unplugging.get();
  view = std::move(unplugging);
  load(scantest::oneDrive(100'000), scantest::driveRecord(100'000), kTestKindExtended);
  unplug->platform = platform.get();

  EXPECT_EQ(sectorLoop(*run, linearPlan(kLoopReadScan, 391, 100'000)), kTestErrorSeek);
  EXPECT_EQ(transfers().size(), 17u);
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{"Extended Test::Set file pointer error!"});
  EXPECT_EQ(platform->openHandleCount(), 0u);
}


// A drive whose size the run cannot use: every step that moves sectors refuses it before
// it touches the media or the partition table, with its own code and message, never
// PASS or COMPLETE after moving nothing.
struct UntestableCase {
  const char* name;
  int32_t sectorSize;
  uint64_t totalSectors;
  uint64_t hiddenSectors;
  uint8_t primaryUnit;
  int code;
  const char* message;  // after the kind prefix
};

constexpr UntestableCase kUntestable[] = {
    {"SectorSizeZero", 0, 2000, 0, 0, 26, "Drive 1 reports a sector size that cannot be tested!"},
    {"SectorSize520", 520, 2000, 0, 0, 26, "Drive 1 reports a sector size that cannot be tested!"},
    {"SectorSize256", 256, 2000, 0, 0, 26, "Drive 1 reports a sector size that cannot be tested!"},
    {"SectorSize16MiBWrapsTheLength", 16 << 20, 2000, 0, 0, 26, "Drive 1 reports a sector size that cannot be tested!"},
    {"SectorSizeNegative", -4096, 2000, 0, 0, 26, "Drive 1 reports a sector size that cannot be tested!"},
    {"NoSectors", 512, 0, 0, 0, 27, "The size of drive 1 could not be used!"},
    {"RangeWrapsPast64Bits", 512, 100, UINT64_MAX - 10, 2, 27, "The size of drive 1 could not be used!"},
    {"SecondUnitWrapsPast64Bits", 512, 100, UINT64_MAX - 10, 0, 27, "The size of drive 1 could not be used!"},
    {"BytesPastASignedOffset", 4096, uint64_t{1} << 52, 0, 0, 27, "The size of drive 1 could not be used!"},
};

struct UntestableRun {
  const char* name;
  int32_t kind;
  int32_t eraseMode;
  const char* prefix;
};

constexpr UntestableRun kUntestableRuns[] = {
    {"QuickScan", kTestKindQuick, 0, "Quick Test::"},
    {"ExtendedScan", kTestKindExtended, 0, "Extended Test::"},
    {"QuickErase", kTestKindErase, 0, "Erase::"},
    {"FullErase", kTestKindErase, 1, "Erase::"},
};

class UntestableDriveTest : public scantest::ScanTest,
                            public ::testing::WithParamInterface<std::tuple<UntestableCase, UntestableRun>> {};

TEST_P(UntestableDriveTest, IsRefusedBeforeAnySectorMoves) {
  const auto& [c, r] = GetParam();
  DriveRecord record = scantest::driveRecord(2000);
  record.sectorSize = c.sectorSize;
  record.totalSectors = c.totalSectors;
  record.hiddenSectors = c.hiddenSectors;
  record.primaryUnit = c.primaryUnit;
  record.secondaryUnit = c.primaryUnit == 2 ? 0 : 2;
  load(scantest::oneDrive(2000), record, r.kind);
  values().eraseMode = r.eraseMode;

  run->runWorker();

  EXPECT_EQ(testRangeError(record), c.code);
  EXPECT_EQ(values().testError.load(), c.code);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{std::string(r.prefix) + c.message});
  EXPECT_EQ(view->lastText(diagtest::Shown::Status), "Test stopped with error(s).");
  EXPECT_EQ(view->ends().size(), 1u);
  EXPECT_TRUE(transfers(sim::SimRequest::Kind::Read).empty());
  EXPECT_TRUE(transfers(kWrite).empty());
  EXPECT_TRUE(platform->ioctls(IOCTL_DISK_DELETE_DRIVE_LAYOUT).empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, UntestableDriveTest,
                         ::testing::Combine(::testing::ValuesIn(kUntestable), ::testing::ValuesIn(kUntestableRuns)),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + "_" + std::get<1>(p.param).name;
                         });

TEST(TestRangeErrorTest, UsableDrivesPass) {
  for (int32_t size : {512, 1024, 2048, 4096, 8192, 65536}) {
    DriveRecord record = scantest::driveRecord(1'000'000);
    record.sectorSize = size;
    EXPECT_EQ(testRangeError(record), 0) << size;
  }
  DriveRecord oneSector = scantest::driveRecord(1);
  EXPECT_EQ(testRangeError(oneSector), 0);
}

// A quick scan of a range shorter than five sectors still reads it (its regions would
// otherwise be empty and the scan pass unread).
TEST_F(SectorLoopTest, QuickScanOfATinyDriveReadsIt) {
  load(scantest::oneDrive(3), scantest::driveRecord(3), kTestKindQuick);
  run->runWorker();
  EXPECT_EQ(blocks(), (std::vector<Transfer>{{0, 3}}));
  EXPECT_EQ(values().testState.load(), kTestStatePass);
}

}  // namespace
}  // namespace palvoro
