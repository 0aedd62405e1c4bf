// The Bench window's model on a small machine: which drives each job may take, the
// requests Start builds, what the one confirmation lists, and that an erase reaches only
// the drives that confirmation still names.

#include "ui/model/bench_model.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <algorithm>
#include <filesystem>
#include <thread>

#include "device/drive_requests.h"
#include "diagnostics/diagnostics_test_support.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "results/result_page.h"

namespace palvoro {
namespace {

constexpr uint64_t kSectors = 300'000;
// Drive 1 holds the system on C:, drive 2 a volume D:, drive 3 nothing; drive 4 is the
// maker's SSD, which the program leaves to its own toolbox.
std::string machine(bool otherProgramOpen = false) {
  return std::string(R"({"name": "bench-model", "drives": [
  {"number": 0, "identity": {"model": "VHT VH7SAB100", "serial": "SYS0000001", "firmware": "A5C0", "sectors": 300000}},
  {"number": 1, "identity": {"model": "VHT VH7SAB300", "serial": "DATA000002", "firmware": "A5C0", "sectors": 300000}},
  {"number": 2, "transport": "usb-sat",
   "identity": {"model": "Kestrel KX1000", "serial": "KX00000003", "firmware": "KX1R", "sectors": 300000}},
  {"number": 3, "identity": {"model": "VHT VHS256G", "serial": "VHS0000004", "firmware": "S1.0", "sectors": 300000,
                             "rotationRate": 1}}],
 "volumes": [
  {"letter": "C", "drive": 0, "partition": 1, "start": 2048, "sectors": 200000, "fileSystem": "NTFS", "label": "System"},
  {"letter": "D", "drive": 1, "partition": 1, "start": 2048, "sectors": 200000, "fileSystem": "NTFS", "label": "Data"}])") +
         (otherProgramOpen ? R"(, "windows": [{"title": "Notepad", "visible": true, "style": "0x14CF0000"}]})" : "}");
}

// The session's prompter: the bench asks it one question at most, the confirmation.
class ConfirmationPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string& text, const std::string&, PromptIcon, PromptButtons buttons,
                   PromptAnswer defaultAnswer, PromptPurpose purpose) override {
    asked.push_back(text);
    EXPECT_TRUE(purpose.destroysData());
    EXPECT_EQ(buttons, PromptButtons::YesNo);
    EXPECT_EQ(defaultAnswer, PromptAnswer::No);
    if (meanwhile) meanwhile();
    return answer;
  }
  PromptAnswer answer = PromptAnswer::No;
  std::function<void()> meanwhile;  // what happens while the question is open
  std::vector<std::string> asked;
};

struct BenchRig {
  explicit BenchRig(bool otherProgramOpen = false)
      : platform(sim::loadMachine(machine(otherProgramOpen))), session(platform, prompter), model(session) {
    (void)detectDrives(session.probeEnvironment(), session.driveTable());
    session.startup().resultsDir = results.path().toStdString() + "/";
    model.setTiming(std::chrono::milliseconds(2), &clock);
    model.listDrives();
  }
  void checkAll() {
    for (int row = 0; row < static_cast<int>(model.candidates().size()); ++row) model.setChecked(row, true);
  }
  // Waits for every drive's request to end, as the window's timer does.
  bool waitForBench() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (model.running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return model.collect();
  }
  std::vector<std::string> outcomes() const {
    std::vector<std::string> texts;
    for (const BenchRunRow& row : model.runRows()) texts.push_back(row.number + " " + row.outcome);
    return texts;
  }

  QTemporaryDir results;
  ConfirmationPrompter prompter;
  sim::SimPlatform platform;
  Session session;
  diagtest::ManualClock clock;
  BenchModel model;
};

TEST(BenchModelTest, EachJobListsWhichDrivesMayTakeItAndRequestsExactlyThose) {
  BenchRig rig;
  BenchModel& model = rig.model;
  ASSERT_EQ(model.candidates().size(), 4u);
  struct Case {
    BenchJob job;
    bool verify;
    std::vector<std::string> notes;  // per listed drive; "" for none
    std::vector<int> requested;      // table indexes, with every drive checked
    int32_t kind;
    std::optional<int32_t> eraseMode;
  };
  const std::string ssd = "not supported: use the Varnholt SSD Toolbox";
  const std::string system = "holds the system: never erased";
  const Case cases[] = {
      {BenchJob::QuickTest, true, {"", "", "", ssd}, {0, 1, 2}, kTestKindQuick, std::nullopt},
      {BenchJob::ExtendedTest, false, {"", "", "", ssd}, {0, 1, 2}, kTestKindExtended, std::nullopt},
      {BenchJob::QuickErase, false, {system, "partitions may exist", "", ssd}, {1, 2}, kTestKindErase, 0},
      {BenchJob::FullErase, true, {system, "partitions may exist", "", ssd}, {1, 2}, kTestKindErase, 1},
  };
  rig.checkAll();
  for (const Case& c : cases) {
    SCOPED_TRACE(benchJobText(c.job));
    model.setJob(c.job);
    model.setVerify(c.verify);
    const std::vector<BenchListRow> rows = model.listRows();
    ASSERT_EQ(rows.size(), c.notes.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].note, c.notes[i]) << i;
      const bool unavailable = c.notes[i] == ssd || c.notes[i] == system;
      EXPECT_EQ(rows[i].available, !unavailable) << i;
      EXPECT_EQ(rows[i].checked, !unavailable) << i;
    }
    const std::vector<RunRequest> requests = model.requests();
    ASSERT_EQ(requests.size(), c.requested.size());
    for (size_t i = 0; i < requests.size(); ++i) {
      const RunRequest& r = requests[i];
      EXPECT_EQ(r.driveIndex, c.requested[i]);
      // Bound to the drive listed, as the option dialog's and the command line's requests are.
      const int number = rig.session.driveTable().records[static_cast<size_t>(r.driveIndex)].physicalDriveNumber;
      ASSERT_TRUE(r.identity.has_value());
      EXPECT_EQ(r.identity, driveInstanceAt(rig.platform, number));
      EXPECT_EQ(r.kind, c.kind);
      EXPECT_EQ(r.eraseMode, c.eraseMode);
      EXPECT_EQ(r.verify, c.verify && c.eraseMode.has_value());
      EXPECT_FALSE(r.repair);
    }
  }
}

// One question for the whole bench, naming each drive to be erased by number, model,
// capacity and serial; the system drive and the SSD are checked but never named.
TEST(BenchModelTest, TheOneConfirmationNamesEveryDriveToBeErasedAndNoOther) {
  BenchRig rig;
  BenchModel& model = rig.model;
  rig.checkAll();
  model.setJob(BenchJob::QuickTest);
  EXPECT_FALSE(model.confirmation().has_value());
  model.setJob(BenchJob::FullErase);
  model.setVerify(true);
  const std::optional<BenchConfirmation> question = model.confirmation();
  ASSERT_TRUE(question.has_value());
  const std::string& text = question->text;
  EXPECT_NE(text.find("Full erase, then read back, of 2 drives."), std::string::npos) << text;
  EXPECT_NE(text.find("Drive 2: VHT VH7SAB300, 153 MB, serial DATA000002 (partitions may exist)\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Drive 3: Kestrel KX1000, 153 MB, serial KX00000003\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Drive 1:"), std::string::npos);
  EXPECT_EQ(text.find("SYS0000001"), std::string::npos);
  EXPECT_EQ(text.find("Drive 4:"), std::string::npos);
  ASSERT_EQ(question->drives.size(), 2u);
  EXPECT_EQ(question->drives[0].first, 1);
  EXPECT_EQ(question->drives[1].first, 2);
  EXPECT_EQ(question->drives[1].second, *driveInstanceAt(rig.platform, 2));
  // Unchecked, a drive leaves the question too.
  model.setChecked(1, false);
  ASSERT_EQ(model.confirmation()->drives.size(), 1u);
  EXPECT_EQ(model.confirmation()->text.find("DATA000002"), std::string::npos);
}

// Data written at two places of each drive shows which drives an erase reached.
TEST(BenchModelTest, AnEraseReachesOnlyTheDrivesTheConfirmationStillNames) {
  struct Case {
    const char* name;
    PromptAnswer answer;
    bool otherProgramOpen;
    bool replugDrive3;  // pulled out and plugged in again while the question is open
    BenchStart start;
    std::vector<std::string> outcomes;
    std::vector<bool> erased;  // table rows 0, 1, 2
  };
  const Case cases[] = {
      {"declined", PromptAnswer::No, false, false, BenchStart::EraseDeclined, {}, {false, false, false}},
      {"confirmed", PromptAnswer::Yes, false, false, BenchStart::Started, {"2 COMPLETE", "3 COMPLETE"},
       {false, true, true}},
      {"a drive replugged meanwhile is another drive", PromptAnswer::Yes, false, true, BenchStart::Started,
       {"2 COMPLETE", "3 not started: the erase was not confirmed"}, {false, true, false}},
      // The confirmation answers no question but the erase's own.
      {"other programs open", PromptAnswer::Yes, true, false, BenchStart::Started,
       {"2 not started: other programs are open", "3 not started: other programs are open"}, {false, false, false}},
  };
  const std::vector<uint8_t> data(512, 0x5A);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BenchRig rig(c.otherProgramOpen);
    for (const int drive : {0, 1, 2}) {
      for (const uint64_t sector : {uint64_t{1000}, kSectors - 1}) {
        ASSERT_TRUE(rig.platform.drive(drive).disk().write(sector, 1, data.data()));
      }
    }
    rig.checkAll();
    rig.model.setJob(BenchJob::QuickErase);
    rig.prompter.answer = c.answer;
    if (c.replugDrive3) {
      rig.prompter.meanwhile = [&rig] {
        rig.platform.machine().plug(2, false);
        rig.platform.machine().plug(2, true);
      };
    }
    EXPECT_EQ(rig.model.start(), c.start);
    ASSERT_TRUE(c.start != BenchStart::Started || rig.waitForBench()) << "the bench did not end";
    EXPECT_EQ(rig.prompter.asked.size(), 1u);
    EXPECT_EQ(rig.outcomes(), c.outcomes);
    for (int drive = 0; drive < 3; ++drive) {
      const sim::SimMedia& disk = rig.platform.drive(drive).disk();
      EXPECT_EQ(!disk.anyData(1000, 1) && !disk.anyData(kSectors - 1, 1), c.erased[static_cast<size_t>(drive)])
          << "drive " << drive + 1;
    }
    // The bench's certificate names exactly the drives its erase reached.
    std::vector<std::string> certified;
    rig.model.fileCertificates("bench-host", [&certified](BenchCertificate& bench, const std::string&) {
      for (const ErasureCertificate& drive : bench.drives) certified.push_back(drive.host + " " + drive.drive.serial);
      return CertificateFiling{"summary.json", ""};
    });
    EXPECT_EQ(certified.size(), static_cast<size_t>(std::count(c.erased.begin(), c.erased.end(), true)));
    if (c.erased[1]) {
      // Each drive's block went onto the page as the drive ended.
      EXPECT_TRUE(std::filesystem::exists(rig.results.path().toStdString() + "/" + kResultPageName));
      EXPECT_NE(rig.model.pageStatus().find(kResultPageName), std::string::npos) << rig.model.pageStatus();
      EXPECT_NE(rig.model.pageStatus().find("Certificates: summary.json"), std::string::npos);
      EXPECT_EQ(certified.front().rfind("bench-host ", 0), 0u);
    }
  }
}

}  // namespace
}  // namespace palvoro
