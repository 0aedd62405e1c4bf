// The option dialog: Start's checks in their order with their texts (through a recording
// stand-in for the boxes), the row rules, the erase choice dialogs, VIEW TEST RESULT, and
// a quick erase end to end through the real dialogs on a simulated machine.

#include "ui/widgets/option_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "discovery/detection.h"
#include "discovery/volumes.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_platform.h"
#include "results/result_page.h"
#include "ui/model/option_dialog_model.h"
#include "ui/screenshot.h"
#include "ui/widgets/erase_dialogs.h"
#include "ui/widgets/progress_dialog.h"
#include "ui/widgets/property_dialog.h"
#include "ui/widgets/qt_prompter.h"
#include "ui/widgets/smart_dialog.h"
#include "ui/widgets/view_dialog.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

// Drive 1 holds the Windows directory on C: and D:; drive 2 (3,000,000 sectors) holds E:.
std::string machineJson(const std::string& windows, uint64_t secondDriveSectors = 3'000'000) {
  return R"({"name": "options",
    "drives": [
      {"number": 0, "identity": {"model": "VHT VH7SAB100", "serial": "SYS0000001", "firmware": "A5C0",
                                 "sectors": 4000000, "rotationRate": 7200}},
      {"number": 1, "identity": {"model": "VHT VH7SAB300", "serial": "ERA0000001", "firmware": "A5C0",
                                 "sectors": )" + std::to_string(secondDriveSectors) + R"(, "rotationRate": 7200}}
    ],
    "volumes": [
      {"letter": "C", "drive": 0, "partition": 1, "start": 2048, "sectors": 1000000},
      {"letter": "D", "drive": 0, "partition": 2, "start": 1002048, "sectors": 1000000},
      {"letter": "E", "drive": 1, "partition": 1, "start": 2048, "sectors": 100000}
    ],
    "windows": [)" + windows + "]}";
}

constexpr const char* kNotepad = R"({"title": "notes.txt - Notepad", "visible": true, "style": "0x14CF0000"})";

// Stands in for the dialog's boxes and child windows, recording what was asked.
class RecordingUi : public OptionDialogUi {
 public:
  PromptAnswer ask(const OptionPrompt& p) override {
    log.push_back(p.caption + ": " + p.text);
    defaults.push_back(p.defaultAnswer);
    purposes.push_back(p.purpose);
    if (answers.empty()) return p.buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    const PromptAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::optional<int32_t> chooseErase(bool quickOnly) override {
    log.push_back(quickOnly ? "quick erase dialog" : "erase dialog");
    return chooseOk ? std::optional<int32_t>(0) : std::nullopt;
  }
  void setDialogVisible(bool visible) override { log.push_back(visible ? "show" : "hide"); }
  RunSighting runProgress(const TestRunEnvironment&) override {
    log.push_back("progress");
    return {};
  }
  void showResultPage(const std::string& title) override { log.push_back("viewer " + title); }

  std::vector<std::string> log;
  std::vector<PromptAnswer> defaults;
  std::vector<PromptPurpose> purposes;
  std::deque<PromptAnswer> answers;
  bool chooseOk = true;
};

class OptionDialogTest : public testing::Test {
 protected:
  // `administrator` false: the user has no rights, and the program uses the miniport path.
  void load(bool administrator, const std::string& windows, int selected,
            const std::function<void(sim::SimMachine&)>& adjust = nullptr) {
    sim::SimMachine machine = sim::loadMachine(machineJson(windows, secondDriveSectors));
    if (adjust) adjust(machine);
    platform = std::make_unique<sim::SimPlatform>(std::move(machine));
    context = std::make_unique<AppContext>(*platform, prompter);
    context->startup().osIsVistaOrLater = 1;
    context->startup().resultsDir = dir.path().toStdString() + "/";
    detectDrives(context->probeEnvironment(), context->driveTable());
    ASSERT_EQ(context->driveTable().driveCount(), 2);
    context->startup().miniportMode = administrator ? 0 : 1;
    context->driveTable().selectedDrive = selected;
  }

  uint64_t secondDriveSectors = 3'000'000;  // drive 2, the one the erases work on
  QTemporaryDir dir;
  QtPrompter prompter;
  SystemTestClock clock;
  std::unique_ptr<sim::SimPlatform> platform;
  std::unique_ptr<AppContext> context;
};

const std::string kSystemDriveMessage =
    "PALVORO for Windows: The selected drive is your Windows system drive and must not be erased!";
const std::string kPartitions =
    "ERASE: One or more partitions may exist in the drive, do you really want to erase them?";
const std::string kDataLoss =
    "ERASE: Erasing the drive will render existing data on the selected device inaccessible. Backup all data to "
    "other media before proceeding. Are you sure you wish to proceed?";
const std::string kAdministrator = "PALVORO for Windows: Administrator privilege is required to run this test !";
std::string closePrograms(const std::string& letters) {
  return "PALVORO for Windows: Please close any other open programs and any open files in the drive" + letters +
         " to prevent data loss.";
}

TEST_F(OptionDialogTest, SystemDriveIsRefusedBeforeAnyOtherQuestion) {
  load(true, "", 0);
  OptionDialogModel model(*context, context->driveTable().selectedDrive, clock);
  RecordingUi ui;
  EXPECT_EQ(model.start(kTestKindErase, ui), StartEnd::SystemDriveRefused);
  EXPECT_EQ(ui.log, std::vector<std::string>{kSystemDriveMessage});
  EXPECT_EQ(model.partitionCheckResult(), kSystemDrive);
  EXPECT_FALSE(model.testRan());
}

TEST_F(OptionDialogTest, WithoutAdministratorRightsExtendedTestAndEraseAreRefused) {
  load(false, kNotepad, 1);
  OptionDialogModel model(*context, context->driveTable().selectedDrive, clock);
  for (int row : {kTestKindExtended, kTestKindErase}) {
    RecordingUi ui;
    EXPECT_EQ(model.start(row, ui), StartEnd::AdministratorRefused);
    EXPECT_EQ(ui.log, std::vector<std::string>{kAdministrator}) << row;
  }
  // The quick test still runs (after the open-program question).
  RecordingUi ui;
  EXPECT_EQ(model.start(kTestKindQuick, ui), StartEnd::TestRun);
  EXPECT_EQ(ui.log, (std::vector<std::string>{closePrograms(" ( E: )"), "hide", "progress", "show"}));
}

TEST_F(OptionDialogTest, OpenProgramsAskWithTheDriveLettersAndCancelStops) {
  load(true, kNotepad, 0);
  OptionDialogModel model(*context, context->driveTable().selectedDrive, clock);
  RecordingUi ui;
  ui.answers = {PromptAnswer::Cancel};
  EXPECT_EQ(model.start(kTestKindQuick, ui), StartEnd::ProgramsOpenCancelled);
  EXPECT_EQ(ui.log, std::vector<std::string>{closePrograms(" ( C: D: )")});
  EXPECT_EQ(ui.defaults, std::vector<PromptAnswer>{PromptAnswer::Cancel});
  EXPECT_EQ(model.otherProgramsOpen(), 1);

  // The system drive's erase: the open programs first, then the refusal.
  RecordingUi erase;
  EXPECT_EQ(model.start(kTestKindErase, erase), StartEnd::SystemDriveRefused);
  EXPECT_EQ(erase.log, (std::vector<std::string>{closePrograms(" ( C: D: )"), kSystemDriveMessage}));
}

TEST_F(OptionDialogTest, EraseAsksEveryConfirmationInOrderAndEachNoStops) {
  load(true, kNotepad, 1);
  OptionDialogModel model(*context, context->driveTable().selectedDrive, clock);
  const std::vector<std::string> all = {closePrograms(" ( E: )"), kPartitions, kDataLoss, "erase dialog"};
  RecordingUi full;
  EXPECT_EQ(model.start(kTestKindErase, full), StartEnd::TestRun);
  std::vector<std::string> expected = all;
  expected.insert(expected.end(), {"hide", "progress", "show"});
  EXPECT_EQ(full.log, expected);
  EXPECT_EQ(full.defaults, (std::vector<PromptAnswer>{PromptAnswer::Cancel, PromptAnswer::No, PromptAnswer::No}));
  // The two questions before the data goes say so, with the drive they are about.
  const PromptPurpose erases = PromptPurpose::destroysDataOn(context->selectedRecord().physicalDriveNumber);
  EXPECT_EQ(full.purposes, (std::vector<PromptPurpose>{PromptPurpose::question(), erases, erases}));
  EXPECT_EQ(model.partitionCheckResult(), kPartitionsMayExist);
  EXPECT_TRUE(model.testRan());

  RecordingUi noPartitions;
  noPartitions.answers = {PromptAnswer::Ok, PromptAnswer::No};
  EXPECT_EQ(model.start(kTestKindErase, noPartitions), StartEnd::PartitionsDeclined);
  EXPECT_EQ(noPartitions.log, std::vector<std::string>(all.begin(), all.begin() + 2));

  RecordingUi noErase;
  noErase.answers = {PromptAnswer::Ok, PromptAnswer::Yes, PromptAnswer::No};
  EXPECT_EQ(model.start(kTestKindErase, noErase), StartEnd::EraseDeclined);
  EXPECT_EQ(noErase.log, std::vector<std::string>(all.begin(), all.begin() + 3));

  RecordingUi cancelChoice;
  cancelChoice.chooseOk = false;
  EXPECT_EQ(model.start(kTestKindErase, cancelChoice), StartEnd::EraseChoiceCancelled);
  EXPECT_EQ(cancelChoice.log, all);
}

// The maker's SCT switches the drive sends in order, and whether IDENTIFY DEVICE went
// through the SMART driver after them: "C013 1", "C013 0", "IDENTIFY".
std::vector<std::string> sctSteps(const sim::SimPlatform& platform) {
  std::vector<std::string> steps;
  for (const sim::SimRequest& r : platform.log()) {
    if (r.kind != sim::SimRequest::Kind::Ioctl) continue;
    // ATA_PASS_THROUGH_EX is 40 bytes; the current task file starts at 32 (features,
    // count, LBA low/mid/high, device, command) and the data follows the record.
    if (r.code == IOCTL_ATA_PASS_THROUGH && r.input.size() >= 43 && r.input[32 + 6] == 0xB0 && r.input[32] == 0xD6) {
      const unsigned action = r.input[40] | (r.input[41] << 8);
      steps.push_back((action == 0xC013 ? "C013 " : "other ") + std::to_string(r.input[42]));
    }
    // SENDCMDINPARAMS: the IDE registers start at byte 4, the command at 4 + 6.
    if (r.code == SMART_RCV_DRIVE_DATA && r.input.size() >= 11 && r.input[4 + 6] == 0xEC) steps.push_back("IDENTIFY");
  }
  return steps;
}

TEST_F(OptionDialogTest, EraseOfADriveWithHiddenSectorsGoesThroughTheSctSwitch) {
  const std::string refused =
      "PALVORO for Windows: Erase is not supported on this system with TOVRIN. Use DOS utility BRENEK, v5.22 or "
      "later, to erase the drive.";
  struct Case {
    bool vendorSwitch;
    StartEnd end;
    std::vector<std::string> log;
    std::vector<std::string> steps;
    uint64_t sectorsAfter;  // totalSectors and identifiedSectors
  };
  const Case cases[] = {
      {false, StartEnd::SctRefused, {kPartitions, kDataLoss, "erase dialog", refused}, {"C013 1"}, 2'999'000},
      {true,
       StartEnd::TestRun,
       {kPartitions, kDataLoss, "erase dialog", "hide", "progress", "show"},
       {"C013 1", "C013 0", "IDENTIFY"},
       3'000'000},
  };
  for (const Case& c : cases) {
    load(true, "", 1, [&](sim::SimMachine& m) { m.drives[1].ata.sctVendorSwitch = c.vendorSwitch; });
    DriveRecord& record = context->selectedRecord();
    record.hiddenSectors = 1000;
    record.totalSectors = record.identifiedSectors = 2'999'000;  // stale until read afresh
    platform->clearLog();
    OptionDialogModel model(*context, context->driveTable().selectedDrive, clock);
    RecordingUi ui;
    EXPECT_EQ(model.start(kTestKindErase, ui), c.end) << c.vendorSwitch;
    EXPECT_EQ(ui.log, c.log) << c.vendorSwitch;
    EXPECT_EQ(sctSteps(*platform), c.steps) << c.vendorSwitch;
    EXPECT_EQ(record.totalSectors, c.sectorsAfter) << c.vendorSwitch;
    EXPECT_EQ(record.identifiedSectors, c.sectorsAfter) << c.vendorSwitch;
  }
}

TEST_F(OptionDialogTest, StartWithoutARowRunsTheTestRunAndMarksNoRow) {
  load(true, kNotepad, 1);
  OptionDialogModel model(*context, context->driveTable().selectedDrive, clock);
  RecordingUi ui;
  // No open-program question and no erase checks: straight to the run, whose worker then
  // answers "Invalid test selection!".
  EXPECT_EQ(model.start(-1, ui), StartEnd::TestRun);
  EXPECT_EQ(ui.log, (std::vector<std::string>{"hide", "progress", "show"}));
  EXPECT_TRUE(model.testRan());
  for (int row = 0; row < kOptionRowCount; ++row) EXPECT_EQ(model.outcome(row).image, -1) << row;
}

TEST_F(OptionDialogTest, ARotatingDriveWithTrimIsOfferedTheQuickEraseOnly) {
  load(true, "", 1);
  context->selectedRecord().hybridFlags = kHybridTrimRotating;
  OptionDialogModel model(*context, context->driveTable().selectedDrive, clock);
  RecordingUi ui;
  ui.chooseOk = false;
  EXPECT_EQ(model.start(kTestKindErase, ui), StartEnd::EraseChoiceCancelled);
  EXPECT_EQ(ui.log.back(), "quick erase dialog");
  context->selectedRecord().hybridFlags = kHybridTrimRotating | kHybridSanitizeReady;
  RecordingUi sanitize;
  sanitize.chooseOk = false;
  model.start(kTestKindErase, sanitize);
  EXPECT_EQ(sanitize.log.back(), "erase dialog");
}

TEST_F(OptionDialogTest, ARowClickSelectsAndAMissKeepsTheSelection) {
  load(true, "", 1);
  context->testRun().testKind = kTestKindExtended;
  CDiskTestDlg dialog(*context, context->driveTable().selectedDrive);
  CXListCtrl* list = dialog.optionList();
  auto* description = qobject_cast<QLabel*>(dialog.control(CDiskTestDlg::kIdDescription));
  EXPECT_EQ(dialog.windowTitle(), "PALVORO - Select An Option");
  EXPECT_EQ(qobject_cast<QGroupBox*>(dialog.control(CDiskTestDlg::kIdDriveGroup))->title(), "Physical Drive 2");
  EXPECT_EQ(qobject_cast<QLabel*>(dialog.control(CDiskTestDlg::kIdModelNumber))->text(),
            "Model Number:\tVHT VH7SAB300");
  EXPECT_EQ(list->itemCount(), 4);
  EXPECT_EQ(list->itemText(2, 0), " ERASE");
  EXPECT_EQ(list->itemText(3, 1), " ");
  EXPECT_EQ(list->selectedRow(), 1);
  EXPECT_TRUE(description->text().startsWith("EXTENDED TEST performs a Full Media Scan"));

  emit list->rowClicked(-1, -1);
  EXPECT_EQ(list->selectedRow(), 1);
  list->setSelectedRow(-1);  // a click in the empty part cleared the list's own selection
  emit list->rowClicked(-1, -1);
  EXPECT_EQ(list->selectedRow(), 1);
  list->setSelectedRow(3);
  emit list->rowClicked(3, 0);
  EXPECT_EQ(context->testRun().testKind.load(), kTestKindViewResult);
  EXPECT_EQ(description->text(), "VIEW TEST RESULT displays the latest test results.");
}

TEST_F(OptionDialogTest, ViewTestResultBeforeAnyRunLeavesThePageAlone) {
  load(true, "", 1);
  context->testRun().testKind = kTestKindViewResult;
  CDiskTestDlg dialog(*context, context->driveTable().selectedDrive);
  dialog.show();
  QString title;
  QTimer::singleShot(0, [&] {
    auto* viewer = qobject_cast<CViewDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(viewer, nullptr);
    title = viewer->windowTitle();
    viewer->reject();
  });
  qobject_cast<QPushButton*>(dialog.control(CDiskTestDlg::kIdStart))->click();
  EXPECT_EQ(title, "PALVORO - VIEW TEST RESULT");
  EXPECT_FALSE(QFileInfo::exists(dir.filePath(kResultPageName)));
  EXPECT_FALSE(dialog.testRan());
}

TEST_F(OptionDialogTest, EraseChoiceDialogsKeepEraseModeUnlessConfirmed) {
  std::atomic<int32_t> mode{0};
  {
    CEraseDLg first(mode);
    EXPECT_EQ(first.windowTitle(), "ERASE");
    EXPECT_TRUE(first.quickButton()->isChecked());
    EXPECT_FALSE(first.fullButton()->isChecked());
    EXPECT_TRUE(first.okButton()->isDefault());
    test::saveScreenshot(first, "erase_dialog");
    first.fullButton()->click();
    EXPECT_FALSE(first.quickButton()->isChecked());
    QTimer::singleShot(0, first.okButton(), &QPushButton::click);
    EXPECT_EQ(first.exec(), QDialog::Accepted);
  }
  EXPECT_EQ(mode.load(), 1);
  {
    CEraseDLg second(mode);
    EXPECT_TRUE(second.fullButton()->isChecked());
    second.quickButton()->click();
    QTimer::singleShot(0, second.cancelButton(), &QPushButton::click);
    EXPECT_EQ(second.exec(), QDialog::Rejected);
  }
  EXPECT_EQ(mode.load(), 1);
  {
    CEraseDLg third(mode);
    EXPECT_TRUE(third.fullButton()->isChecked());
    EXPECT_FALSE(third.quickButton()->isChecked());
  }
  {
    CQuickEraseDLg quick(mode);
    EXPECT_EQ(quick.windowTitle(), "QUICK ERASE");
    EXPECT_EQ(quick.text()->text(), "QUICK ERASE erases the first and last million sectors of the drive.");
    test::saveScreenshot(quick, "quick_erase_dialog");
    QTimer::singleShot(0, quick.cancelButton(), &QPushButton::click);
    EXPECT_EQ(quick.exec(), QDialog::Rejected);
    EXPECT_EQ(mode.load(), 1);
    QTimer::singleShot(0, quick.okButton(), &QPushButton::click);
    EXPECT_EQ(quick.exec(), QDialog::Accepted);
  }
  EXPECT_EQ(mode.load(), 0);
}

// Answers whatever modal window comes up next, one scripted step per window, and presses
// the progress dialog's Close once the run has ended.
class ModalScript : public QObject {
 public:
  using Step = std::function<bool(QWidget*)>;  // true when it handled the window
  explicit ModalScript(std::deque<Step> steps) : m_steps(std::move(steps)) {
    connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
    m_timer.start(5);
  }
  std::vector<QString> seen;
  bool done() const { return m_steps.empty(); }

 private:
  void poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == m_handled) return;
    if (auto* progress = qobject_cast<CScanDiskDlg*>(modal)) {
      if (progress->testRun().cancelReadsClose()) {
        m_handled = modal;
        qobject_cast<QPushButton*>(progress->control(kCtlCancel))->click();
      }
      return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) seen.push_back(box->windowTitle() + ": " + box->text());
    if (m_steps.empty()) {
      // A box nobody expected: noted in `seen`, and dismissed so the test ends.
      m_handled = modal;
      if (auto* box = qobject_cast<QMessageBox*>(modal)) box->defaultButton() ? box->defaultButton()->click() : box->reject();
      else if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
      return;
    }
    if (m_steps.front()(modal)) {
      m_handled = modal;
      m_steps.pop_front();
    }
  }
  std::deque<Step> m_steps;
  QPointer<QWidget> m_handled;  // a window already answered, until it is destroyed
  QTimer m_timer;
};

ModalScript::Step pressBox(QMessageBox::StandardButton button) {
  return [button](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box == nullptr) return false;
    box->button(button)->click();
    return true;
  };
}

TEST_F(OptionDialogTest, QuickEraseThroughEveryConfirmationZeroesBothRegions) {
  // A small drive: every erased sector costs time under the race detector.
  secondDriveSectors = 300'000;
  load(true, kNotepad, 1);
  sim::SimDrive& drive = platform->drive(1);
  // Marks on both sides of each region's edges (sector 0 keeps the partition table): a
  // fifth of the drive at each end, the first region ending with its last whole block.
  const std::vector<uint64_t> inside = {1, 60'159, 240'000, 299'999};
  const std::vector<uint64_t> outside = {60'160, 150'000, 239'999};
  std::vector<uint8_t> mark(512, 0xA5);
  for (uint64_t lba : inside) drive.disk().write(lba, 1, mark.data());
  for (uint64_t lba : outside) drive.disk().write(lba, 1, mark.data());
  context->testRun().testKind = kTestKindErase;
  context->testRun().eraseMode = 1;  // the last choice was a full erase

  CDiskTestDlg dialog(*context, context->driveTable().selectedDrive);
  dialog.setProgressTiming(10, nullptr);
  // The program's writer gets the certificate with this computer's name, and the result
  // page's folder; where it went is told once the run has ended.
  std::optional<ErasureCertificate> certified;
  dialog.setCertificateWriter([&](ErasureCertificate& certificate, const std::string& directory) {
    certified = certificate;
    return CertificateFiling{directory + certificate.id + ".json", ""};
  });
  dialog.show();
  bool quickWasOffered = false;
  ModalScript script({pressBox(QMessageBox::Ok), pressBox(QMessageBox::Yes), pressBox(QMessageBox::Yes),
                      [&](QWidget* w) {
                        auto* choice = qobject_cast<CEraseDLg*>(w);
                        if (choice == nullptr) return false;
                        quickWasOffered = choice->fullButton()->isChecked();
                        choice->quickButton()->click();
                        choice->okButton()->click();
                        return true;
                      },
                      pressBox(QMessageBox::Ok)});
  qobject_cast<QPushButton*>(dialog.control(CDiskTestDlg::kIdStart))->click();

  EXPECT_TRUE(script.done());
  EXPECT_TRUE(quickWasOffered);
  ASSERT_TRUE(certified.has_value());
  EXPECT_EQ(certified->host, QSysInfo::machineHostName().toStdString());
  EXPECT_EQ(certified->method, eraseMethodText(PurgeMethod::Overwrite, 0));
  const std::string certificatePath = context->startup().resultsDir + certified->id + ".json";
  EXPECT_EQ(script.seen, (std::vector<QString>{QString::fromStdString(closePrograms(" ( E: )")),
                                                QString::fromStdString(kPartitions),
                                                QString::fromStdString(kDataLoss),
                                                QString::fromStdString("PALVORO for Windows: The erase certificate was written to " +
                                                                       certificatePath + ".")}));
  EXPECT_EQ(context->testRun().eraseMode.load(), 0);
  EXPECT_EQ(context->testRun().testState.load(), kTestStateComplete);
  EXPECT_TRUE(dialog.testRan());
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.optionList()->itemText(2, 1), "COMPLETE");
  EXPECT_EQ(dialog.optionList()->cellRecord(2, 1)->image, 4 + kTestStateComplete);
  EXPECT_FALSE(drive.disk().anyData(0, 60'160));
  EXPECT_FALSE(drive.disk().anyData(240'000, 60'000));
  for (uint64_t lba : outside) EXPECT_TRUE(drive.disk().anyData(lba, 1)) << lba;
  EXPECT_EQ(platform->openHandleCount(), 0u);
  test::saveScreenshot(dialog, "option_dialog");

  // The run's block is on the page now.
  ASSERT_TRUE(writeResultPage(context->startup().resultsDir, context->resultLines()));
  EXPECT_TRUE(QFileInfo::exists(dir.filePath(kResultPageName)));
}

// With no other program open nobody asks about open files, yet the erase must still know
// the drive's volumes: they are locked and dismounted for it, and nobody else's are.
TEST_F(OptionDialogTest, WithoutOtherProgramsTheErasedDrivesVolumesAreLockedAndDismounted) {
  secondDriveSectors = 200'000;  // enough for E:, and quick to erase under the race detector
  load(true, "", 1);
  ASSERT_EQ(context->driveTable().records[1].volumeLetters[0], '\0');  // detection maps no letters
  context->testRun().testKind = kTestKindErase;
  CDiskTestDlg dialog(*context, context->driveTable().selectedDrive);
  dialog.setProgressTiming(10, nullptr);
  dialog.show();
  ModalScript script({pressBox(QMessageBox::Yes), pressBox(QMessageBox::Yes), [&](QWidget* w) {
                        auto* choice = qobject_cast<CEraseDLg*>(w);
                        if (choice == nullptr) return false;
                        choice->quickButton()->click();
                        choice->okButton()->click();
                        return true;
                      }});
  qobject_cast<QPushButton*>(dialog.control(CDiskTestDlg::kIdStart))->click();

  EXPECT_TRUE(script.done());
  EXPECT_EQ(script.seen,
            (std::vector<QString>{QString::fromStdString(kPartitions), QString::fromStdString(kDataLoss)}));
  EXPECT_EQ(context->testRun().testState.load(), kTestStateComplete);
  const auto paths = [&](uint32_t code) {
    std::vector<std::string> out;
    for (const sim::SimRequest& r : platform->ioctls(code)) {
      if (out.empty() || out.back() != r.path) out.push_back(r.path);
    }
    return out;
  };
  EXPECT_FALSE(paths(FSCTL_LOCK_VOLUME).empty());
  for (const std::string& path : paths(FSCTL_LOCK_VOLUME)) EXPECT_EQ(path, "\\\\.\\E:");
  EXPECT_FALSE(paths(FSCTL_DISMOUNT_VOLUME).empty());
  for (const std::string& path : paths(FSCTL_DISMOUNT_VOLUME)) EXPECT_EQ(path, "\\\\.\\E:");
  EXPECT_TRUE(platform->volume('C').mounted);
  EXPECT_TRUE(platform->volume('D').mounted);
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

// A drive that reports markup in its model, serial or firmware is shown what it said,
// in every window that shows those texts.
TEST_F(OptionDialogTest, DriveTextsAreShownAsPlainTextInEveryWindow) {
  load(true, "", 1);
  DriveRecord& record = context->driveTable().records[1];
  std::snprintf(record.model, sizeof record.model, "%s", "<b>BOLD</b> <i>MODEL</i>");
  std::snprintf(record.serialNumber, sizeof record.serialNumber, "%s", "<u>SERIAL</u>");
  std::snprintf(record.firmwareRevision, sizeof record.firmwareRevision, "%s", "<s>F</s>");
  const auto check = [](QWidget& window, const char* name) {
    int shown = 0;
    for (QLabel* label : window.findChildren<QLabel*>()) {
      if (!label->text().contains(QLatin1Char('<'))) continue;
      ++shown;
      EXPECT_EQ(label->textFormat(), Qt::PlainText) << name << ": " << label->text().toStdString();
    }
    EXPECT_GT(shown, 0) << name;
  };
  CDiskTestDlg options(*context, context->driveTable().selectedDrive);
  check(options, "option dialog");
  CDiskAttrDlg smart(*context, context->driveTable().selectedDrive);
  check(smart, "SMART window");
  CPropertySheet sheet(*context, 1);
  check(sheet, "property page");
}

TEST_F(OptionDialogTest, RefusalsComeAsRealBoxesAndNoRunStarts) {
  struct Case {
    bool administrator;
    int drive;
    int row;
    std::string box;
  };
  const Case cases[] = {
      {true, 0, kTestKindErase, kSystemDriveMessage},
      {false, 1, kTestKindExtended, kAdministrator},
      {false, 1, kTestKindErase, kAdministrator},
  };
  for (const Case& c : cases) {
    load(c.administrator, "", c.drive);
    context->testRun().testKind = c.row;
    CDiskTestDlg dialog(*context, context->driveTable().selectedDrive);
    dialog.show();
    ModalScript script({pressBox(QMessageBox::Ok)});
    qobject_cast<QPushButton*>(dialog.control(CDiskTestDlg::kIdStart))->click();
    EXPECT_TRUE(script.done()) << c.row;
    EXPECT_EQ(script.seen, std::vector<QString>{QString::fromStdString(c.box)}) << c.row;
    EXPECT_FALSE(dialog.testRan()) << c.row;
    EXPECT_TRUE(dialog.isVisible()) << c.row;
    EXPECT_EQ(dialog.optionList()->itemText(c.row, 1), " ") << c.row;
    EXPECT_EQ(context->resultLines().count(), 0u) << c.row;
  }
}

}  // namespace
}  // namespace palvoro
