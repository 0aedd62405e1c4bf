#include "diagnostics/purge_erase.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "device/drive_handle.h"
#include "device/drive_requests.h"
#include "diagnostics/run_drive_open.h"
#include "diagnostics/run_schedule.h"
#include "platform/win_types.h"

namespace palvoro {
namespace {

// Blocks read (and, where blank, written) before a drive's own erase and read after it,
// spread evenly from the first to the last sector: enough to find a region the drive
// skipped, few enough to cost seconds.
constexpr uint64_t kSampleBlocks = 64;
constexpr size_t kListedFailures = 16;
constexpr std::align_val_t kBufferAlignment{4096};

// Whether the method reaches every sector the drive has, hidden ones included.
bool coversHiddenAreas(PurgeMethod method) {
  switch (method) {
    case PurgeMethod::SanitizeBlock:
    case PurgeMethod::SanitizeCrypto:
    case PurgeMethod::SanitizeOverwrite:
    case PurgeMethod::Format:
    case PurgeMethod::FormatCrypto:
      return true;
    default:
      return false;
  }
}

struct AlignedDelete {
  void operator()(uint8_t* p) const { ::operator delete[](p, kBufferAlignment); }
};

// The sample's sectors, ascending and without repeats.
std::vector<uint64_t> sampleSectors(uint64_t total) {
  std::vector<uint64_t> sectors;
  if (total == 0) return sectors;
  const uint64_t count = std::min(total, kSampleBlocks);
  for (uint64_t i = 0; i < count; ++i) {
    // (total - 1) * i / (count - 1) without the product overflowing 64 bits.
    const uint64_t step = count == 1 ? 0 : (total - 1) / (count - 1);
    const uint64_t rest = count == 1 ? 0 : (total - 1) % (count - 1);
    const uint64_t sector = step * i + rest * i / (count == 1 ? 1 : count - 1);
    if (sectors.empty() || sectors.back() != sector) sectors.push_back(sector);
  }
  return sectors;
}

// One sector of each sample, or nothing where it did not read.
using Sample = std::vector<std::optional<std::vector<uint8_t>>>;

Sample readSample(DriveHandle& drive, const std::vector<uint64_t>& sectors, uint32_t sectorSize) {
  Sample sample;
  std::unique_ptr<uint8_t[], AlignedDelete> buffer(new (kBufferAlignment) uint8_t[sectorSize]);
  for (const uint64_t sector : sectors) {
    uint32_t got = 0;
    if (drive.seekTo(sector * sectorSize) && drive.read(buffer.get(), sectorSize, &got) && got == sectorSize) {
      sample.emplace_back(std::vector<uint8_t>(buffer.get(), buffer.get() + sectorSize));
    } else {
      sample.emplace_back(std::nullopt);
    }
  }
  return sample;
}

bool blank(const std::vector<uint8_t>& bytes) {
  return bytes.empty() || std::all_of(bytes.begin(), bytes.end(), [&bytes](uint8_t b) { return b == bytes.front(); });
}

// A sampled block that is blank (a new or already erased drive) proves nothing after the
// erase, so it is given bytes of its own first: the user has agreed to lose everything on
// the drive, and these bytes go with the rest. A block that does not take them stays as it
// was, blank, and counts as no evidence.
void markBlankSamples(DriveHandle& drive, const std::vector<uint64_t>& sectors, Sample& before, uint32_t sectorSize,
                      uint64_t seed) {
  std::unique_ptr<uint8_t[], AlignedDelete> buffer(new (kBufferAlignment) uint8_t[sectorSize]);
  for (size_t i = 0; i < sectors.size(); ++i) {
    if (!before[i] || !blank(*before[i])) continue;
    uint64_t state = seed ^ (sectors[i] * 0x9E3779B97F4A7C15ull);
    for (uint32_t at = 0; at < sectorSize; ++at) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      buffer[at] = static_cast<uint8_t>(state >> 56);
    }
    if (!drive.seekTo(sectors[i] * sectorSize) || !drive.write(buffer.get(), sectorSize)) continue;
    before[i] = std::vector<uint8_t>(buffer.get(), buffer.get() + sectorSize);
  }
  (void)drive.flush();  // what the drive has not stored cannot be found again afterwards
}

// What an erased block reads as, where the method or the drive says.
std::optional<uint8_t> erasedValueOf(PurgeMethod method, const PurgeReport& report) {
  if (report.erasedValue) return report.erasedValue;
  // The overwrites write zeros; a normal security erase writes zeros by definition.
  if (method == PurgeMethod::SanitizeOverwrite || method == PurgeMethod::SecurityErase) return uint8_t{0};
  return std::nullopt;
}

PurgeSampleCheck compareSamples(const std::vector<uint64_t>& sectors, const Sample& before, const Sample& after,
                                uint32_t sectorSize, std::optional<uint8_t> expected) {
  PurgeSampleCheck check;
  check.ran = true;
  check.expectedValue = expected;
  const auto failed = [&check](uint64_t sector) {
    if (check.failedSectors.size() < kListedFailures) check.failedSectors.push_back(sector);
  };
  for (size_t i = 0; i < sectors.size(); ++i) {
    ++check.samples;
    if (!after[i]) {
      ++check.unreadable;
      failed(sectors[i]);
      continue;
    }
    check.sectorsRead += 1;
    const std::vector<uint8_t>& now = *after[i];
    const bool wasBlank = before[i] && blank(*before[i]);
    if (wasBlank) ++check.blankBefore;
    if (expected && !(now.size() == sectorSize && blank(now) && now.front() == *expected)) {
      ++check.notErasedValue;
      failed(sectors[i]);
    } else if (!expected && before[i] && !wasBlank && *before[i] == now) {
      ++check.unchanged;
      failed(sectors[i]);
    }
  }
  return check;
}

std::string sectorsText(uint64_t sectors) { return std::to_string(sectors) + (sectors == 1 ? " sector" : " sectors"); }

// What the erase did about the hidden areas, in a sentence for the page and the certificate.
std::string hiddenSentence(PurgeMethod method, const HiddenAreaHandling& handling) {
  if (!handling.found) return coversHiddenAreas(method) ? "The drive's own erase covers every sector it has." : "";
  const HiddenAreas& h = *handling.found;
  if (h.hpaSectors() == 0 && h.dcoHiddenSectors() == 0) return "The drive hides no sectors from the host.";
  if (coversHiddenAreas(method)) {
    return "The drive's own erase covers every sector it has, the " +
           sectorsText(h.hpaSectors() + h.dcoHiddenSectors()) + " it hides from the host included.";
  }
  std::string text;
  if (h.hpaSectors() != 0) {
    const std::string area = "The Host Protected Area (" + sectorsText(h.hpaSectors()) + ")";
    if (!handling.lifted) {
      text = area + " was not lifted: its sectors were not written.";
    } else {
      text = area + " was lifted for the run and written; " +
             (handling.restored ? std::string("it was put back afterwards.")
                                : std::string("it stays lifted until the drive is powered off."));
    }
  }
  if (h.dcoHiddenSectors() != 0) {
    text += std::string(text.empty() ? "" : " ") + "A Device Configuration Overlay hides " +
            sectorsText(h.dcoHiddenSectors()) + " more, which only the drive's own sanitize reaches: they were not written.";
  }
  return text;
}

// A step of the drive's own erase failed: the message with the drive's reason, then FAIL.
void failPurge(TestRun& run, int code, const std::string& detail) {
  run.values().testError = code;
  run.showTestError(code, run.kindPrefix(), detail);
  run.endFailed();
}

int codeOf(PurgeStatus status) {
  switch (status) {
    case PurgeStatus::Completed: return kTestErrorNone;
    case PurgeStatus::Unsupported: return kTestErrorMethodUnavailable;
    case PurgeStatus::Frozen: return kTestErrorSecurityFrozen;
    case PurgeStatus::Locked: return kTestErrorDriveLocked;
    case PurgeStatus::Failed: return kTestErrorPurgeFailed;
  }
  return kTestErrorPurgeFailed;
}

std::string reportDetail(const PurgeReport& report) {
  std::string detail = report.detail;
  if (report.passwordRemoved) {
    detail += std::string(detail.empty() ? "" : " ") + "The temporary password was removed again.";
  }
  return detail;
}

// Lifts the HPA through `device` when the user asked and the method does not cover it.
void liftWhenAsked(TestRun& run, PurgeDevice& device, PurgeMethod method) {
  TestRunValues& v = run.values();
  HiddenAreaHandling& hidden = v.purge.hidden;
  hidden.found = device.hiddenAreas();
  if (!hidden.found || hidden.found->hpaSectors() == 0 || coversHiddenAreas(method) || !v.liftHpa.load()) return;
  if (!device.liftHpa()) return;
  hidden.lifted = true;
  run.drive().totalSectors = hidden.found->nativeSectors;
  // The system learns the capacity the drive now shows, so that the writes reach it.
  (void)updateDiskProperties(run.platform(), run.prompter(), run.drive().physicalDriveNumber, false);
}

// The sequence, its progress on the bar, and the sample before and after. Returns the
// failure's code with its detail, or 0.
int runPurgeSequence(TestRun& run, DriveHandle& drive, PurgeDevice& device, PurgeMethod method, std::string& detail) {
  TestRunValues& v = run.values();
  const DriveRecord& record = run.drive();
  const auto sectorSize = static_cast<uint32_t>(record.sectorSize);
  const std::vector<uint64_t> sectors = sampleSectors(record.totalSectors);
  Sample before = readSample(drive, sectors, sectorSize);
  markBlankSamples(drive, sectors, before, sectorSize, static_cast<uint64_t>(run.clock().nowSeconds()));
  PurgeHooks hooks;
  hooks.progress = [&run](const PurgeProgress& progress) {
    if (progress.fraction) run.setProgress(static_cast<int>(std::clamp(*progress.fraction, 0.0, 1.0) * 100));
    if (!progress.stage.empty()) run.showStage(progress.stage);
  };
  v.purge.report = device.run(method, hooks);
  const PurgeReport& report = *v.purge.report;
  detail = reportDetail(report);
  if (report.status != PurgeStatus::Completed) return codeOf(report.status);
  v.purge.check = compareSamples(sectors, before, readSample(drive, sectors, sectorSize), sectorSize,
                                 erasedValueOf(method, report));
  if (v.purge.check.passed()) return kTestErrorNone;
  const PurgeSampleCheck& c = v.purge.check;
  detail = c.sectorsFailed() == 0
               ? "Every sampled block was blank before the erase, so the sample proves nothing."
               : std::to_string(c.sectorsFailed()) + " of " + std::to_string(c.samples) +
                     " sampled blocks were not erased (first at sector " + std::to_string(c.failedSectors.front()) + ").";
  return kTestErrorPurgeCheck;
}

}  // namespace

void purgeErase(TestRun& run) {
  TestRunValues& v = run.values();
  const PurgeMethod method = v.eraseMethod.load();
  DriveHandle drive(run.platform());
  TestVolumeHandles volumes = closedVolumeHandles();
  if (openDriveForTest(run, drive, volumes) != 0) {  // its message is shown
    run.endFailed();
    return;
  }
  const std::unique_ptr<PurgeDevice> device =
      purgeDeviceOf(run.platform(), drive.handle(), run.drive(), run.raidMemberSelect());
  const std::vector<MethodSupport> offered = device->methods();
  const auto it = std::find_if(offered.begin(), offered.end(),
                               [method](const MethodSupport& s) { return s.method == method; });
  int code = kTestErrorNone;
  std::string detail;
  if (it == offered.end() || !it->offered) {
    code = kTestErrorMethodUnavailable;
    detail = it == offered.end() ? "The drive has no such command." : it->whyNot;
    v.purge.report = PurgeReport{PurgeStatus::Unsupported, detail, false, false, {}};
  } else {
    liftWhenAsked(run, *device, method);
    run.startTime = run.clock().nowSeconds();
    run.schedule().arm(kTimerSecondUnitErase);
    run.showEstimatedMinutes(static_cast<int>(std::max<uint32_t>(1, it->estimatedMinutes)));
    // Once the drive has it, its own erase runs to the end whatever the host does; Cancel
    // cannot promise more than that.
    run.showStage(std::string("Running ") + purgeMethodName(method) + "...",
                  "The drive's own erase cannot be stopped once it has begun.");
    code = runPurgeSequence(run, drive, *device, method, detail);
    run.schedule().disarm(kTimerSecondUnitErase);
  }
  v.purge.hidden.sentence = hiddenSentence(method, v.purge.hidden);
  closeDriveForTest(run, drive, volumes);
  if (code != kTestErrorNone) {
    failPurge(run, code, detail);
  } else {
    run.showCompleted(kTestStateComplete);
    run.relabelClose();
  }
  (void)updateDiskProperties(run.platform(), run.prompter(), run.drive().physicalDriveNumber, false);
}

void beforeOverwrite(TestRun& run) {
  const DriveRecord& record = run.drive();
  // A second unit is the maker's own hidden area, erased by its own step.
  // Only ATA drives have hidden areas to ask about.
  const bool ata = record.driveClass == kDriveClassAta ||
                   ((record.driveClass == kDriveClassUsb || record.driveClass == kDriveClassFireWire) &&
                    record.ataTunnel != kCarrierNone);
  if (record.hiddenSectors != 0 || !ata) return;
  DriveHandle drive(run.platform());
  TestVolumeHandles volumes = closedVolumeHandles();
  if (openDriveForStep(run, drive, volumes) != 0) return;  // the erase's own open tells why
  const std::unique_ptr<PurgeDevice> device =
      purgeDeviceOf(run.platform(), drive.handle(), record, run.raidMemberSelect());
  liftWhenAsked(run, *device, PurgeMethod::Overwrite);
  closeDriveForTest(run, drive, volumes);
}

void afterOverwrite(TestRun& run) {
  TestRunValues& v = run.values();
  HiddenAreaHandling& hidden = v.purge.hidden;
  if (hidden.lifted && v.restoreHpa.load()) {
    DriveHandle drive(run.platform());
    TestVolumeHandles volumes = closedVolumeHandles();
    if (openDriveForStep(run, drive, volumes) == 0) {
      const std::unique_ptr<PurgeDevice> device =
          purgeDeviceOf(run.platform(), drive.handle(), run.drive(), run.raidMemberSelect());
      hidden.restored = device->restoreHpa(hidden.found->userSectors);
      closeDriveForTest(run, drive, volumes);
    }
    if (hidden.restored) {
      run.drive().totalSectors = hidden.found->userSectors;
      (void)updateDiskProperties(run.platform(), run.prompter(), run.drive().physicalDriveNumber, false);
    }
  }
  hidden.sentence = hiddenSentence(PurgeMethod::Overwrite, hidden);
}

}  // namespace palvoro
