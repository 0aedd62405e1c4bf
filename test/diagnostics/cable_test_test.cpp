// The cable test on the simulated machine: the drive opens with its volumes locked (or,
// before Vista, directly) and everything is closed again; a drive that does not open or
// has more volumes than can be locked fails with its messages.

#include "diagnostics/cable_test.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/scan_test_support.h"
#include "platform/ioctl_codes.h"

namespace palvoro {
namespace {

using Strings = std::vector<std::string>;

class CableTestTest : public scantest::ScanTest {
 protected:
  void loadWithVolume(DriveRecord record) {
    sim::SimMachine machine = scantest::oneDrive(100'000);
    scantest::addVolume(machine, 'E', 2048, 90'000);
    record.volumeCount = record.volumeCount == 0 ? 1 : record.volumeCount;
    record.volumeLetters[0] = 'E';
    load(std::move(machine), record);
  }
  std::vector<sim::SimRequest> opens() const {
    std::vector<sim::SimRequest> out;
    for (const sim::SimRequest& r : platform->log()) {
      if (r.kind == sim::SimRequest::Kind::Open) out.push_back(r);
    }
    return out;
  }
};

TEST_F(CableTestTest, PassesWhenTheDriveOpensWithItsVolumesLocked) {
  loadWithVolume(scantest::driveRecord(100'000));
  EXPECT_EQ(cableTest(*run), 1);

  const std::vector<sim::SimRequest> opened = opens();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].path, "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(opened[1].path, "\\\\.\\E:");
  EXPECT_EQ(platform->ioctls(FSCTL_LOCK_VOLUME).size(), 1u);
  EXPECT_EQ(platform->ioctls(FSCTL_DISMOUNT_VOLUME).size(), 1u);
  EXPECT_EQ(platform->openHandleCount(), 0u);
  EXPECT_TRUE(prompter.prompts().empty());
  EXPECT_EQ(values().testError.load(), kTestErrorNone);
}

struct CableFailure {
  const char* name;
  int driveNumber;
  int volumeCount;
  Strings messages;
};

class CableFailureTest : public CableTestTest, public ::testing::WithParamInterface<CableFailure> {};

TEST_P(CableFailureTest, ShowsTheOpenMessageThenTheCableMessage) {
  DriveRecord record = scantest::driveRecord(100'000);
  record.physicalDriveNumber = GetParam().driveNumber;
  record.volumeCount = GetParam().volumeCount;
  loadWithVolume(record);

  EXPECT_EQ(cableTest(*run), 0);
  EXPECT_EQ(prompter.texts(), GetParam().messages);
  EXPECT_EQ(values().testError.load(), kTestErrorNoDrive);
  EXPECT_EQ(values().lastErrorMessage(), GetParam().messages.back());
  EXPECT_TRUE(platform->ioctls(FSCTL_LOCK_VOLUME).empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Drives, CableFailureTest,
    ::testing::Values(
        CableFailure{"TooManyVolumes", 0, 81,
                     {"Quick Test::Unknown error!",
                      "Cable Test::Cannot communicate with drive 1! Check device connection."}},
        CableFailure{"DriveDoesNotOpen", 7, 1,
                     {"Quick Test::Cannot communicate with drive 1! Check device connection.",
                      "Cable Test::Cannot communicate with drive 1! Check device connection."}}),
    [](const ::testing::TestParamInfo<CableFailure>& p) { return std::string(p.param.name); });

TEST_F(CableTestTest, BeforeVistaTheDriveOpensUnbufferedAndAlone) {
  loadWithVolume(scantest::driveRecord(100'000));
  context->startup().osIsVistaOrLater = 0;
  EXPECT_EQ(cableTest(*run), 1);

  const std::vector<sim::SimRequest> opened = opens();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].path, "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(opened[0].access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(opened[0].shareMode, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_EQ(opened[0].disposition, OPEN_EXISTING);
  EXPECT_EQ(opened[0].flags, FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING);
  EXPECT_EQ(platform->openHandleCount(), 0u);

  platform->drive(0).present = false;
  EXPECT_EQ(cableTest(*run), 0);
  EXPECT_EQ(prompter.texts(), Strings{"Cable Test::Cannot communicate with drive 1! Check device connection."});
}

}  // namespace
}  // namespace palvoro
