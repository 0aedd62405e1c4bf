#pragma once
// The values one test run shares between the worker thread and the progress dialog's
// thread. Numbers are atomics; the last error message is a string behind a lock.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "diagnostics/block_latency.h"
#include "diagnostics/purge_outcome.h"

namespace palvoro {

// Which test the user chose (`TestKind`).
enum TestKindValue : int32_t {
  kTestKindQuick = 0,
  kTestKindExtended = 1,
  kTestKindErase = 2,
  kTestKindViewResult = 3,  // an option of the list; never reaches the worker
};

// How the run stands (`TestState`); 113 + the state is its result word.
enum TestStateValue : int32_t {
  kTestStatePass = 0,
  kTestStateFail = 1,
  kTestStateAbort = 2,
  kTestStateComplete = 3,
  kTestStateRunning = 4,
};

// `TestError`: every failure of a test step is one of these codes, each with one message.
enum TestErrorCode : int32_t {
  kTestErrorNone = 0,
  kTestErrorSmartStatus = 1,           // SMART RETURN STATUS failed or threshold exceeded
  kTestErrorTooManyVolumes = 2,        // more volumes than handles to lock them
  kTestErrorReadSmart = 3,             // SMART data could not be read
  kTestErrorNoDrive = 4,               // the drive does not open
  kTestErrorUnknown5 = 5,
  kTestErrorSelfTestIncomplete = 6,    // the SMART self-test ended with a failure
  kTestErrorSelfTestStart = 7,         // EXECUTE OFF-LINE IMMEDIATE refused
  kTestErrorRead = 8,                  // a sector could not be read
  kTestErrorWrite = 9,                 // a sector could not be written
  kTestErrorSeek = 10,                 // the position could not be set
  kTestErrorCable = 11,                // cable test failed (no message box)
  kTestErrorTooManyBadSectors = 12,    // string 228
  kTestErrorRepairFailed = 13,         // string 229
  kTestErrorStopped = 14,              // stopped by the user (no message box)
  kTestErrorDiagnosticsSector = 15,
  kTestErrorUnknown16 = 16,
  kTestErrorErase = 17,
  kTestErrorReadVerify = 18,           // READ VERIFY SECTORS EXT failed
  kTestErrorSmartEnable = 19,          // SMART ENABLE OPERATIONS refused
  kTestErrorDeletePartitions = 20,
  kTestErrorTrim = 21,
  kTestErrorSanitizeUnsupported = 22,
  kTestErrorSanitizeStatus = 23,
  kTestErrorSanitizeOverwrite = 24,
  kTestErrorSanitizeInProgress = 25,
  kTestErrorSectorSize = 26,           // the drive reports a sector size transfers cannot use
  kTestErrorDriveSize = 27,            // the drive's range is empty or past what 64 bits hold
  // The drive's own erase methods; their messages carry the drive's reason after them.
  kTestErrorMethodUnavailable = 28,    // the drive (or its bridge) does not offer the method
  kTestErrorSecurityFrozen = 29,       // ATA security frozen: nothing was sent
  kTestErrorDriveLocked = 30,          // locked by a password this program did not set
  kTestErrorPurgeFailed = 31,          // the drive reported its own erase failed
  kTestErrorPurgeCheck = 32,           // the read-back found blocks the erase left as they were
};

// A text the worker writes and a front end reads, each access under the text's own lock.
class LockedText {
 public:
  std::string get() const {
    std::lock_guard lock(m_mutex);
    return m_text;
  }
  void set(std::string text) {
    std::lock_guard lock(m_mutex);
    m_text = std::move(text);
  }

 private:
  mutable std::mutex m_mutex;
  std::string m_text;
};

// How a walk paces its transfers: one block at a time where the latency map matters most
// (rotating disks), the device's deep queue elsewhere; or one of the two everywhere.
enum class TransferPace : int32_t { Automatic = 0, OneBlock = 1, Deep = 2 };

// What the temperature guard saw over a run's walks and its read-back, for the report:
// written by the thread walking the drive, read once the run (and its read-back) ended.
struct TemperatureWatch {
  std::optional<int> highestCelsius;   // the highest reading; none when the drive gave none
  int warningCelsius = 0;              // the limits the readings were held to, once one arrived
  int criticalCelsius = 0;
  bool limitsFromDrive = false;        // the drive named them; otherwise the defaults of its kind
  uint32_t pauses = 0;
  uint64_t pausedSeconds = 0;          // on the drive's clock

  bool operator==(const TemperatureWatch&) const = default;
};

struct TestRunValues {
  std::atomic<int32_t> testKind{kTestKindQuick};
  std::atomic<int32_t> testError{kTestErrorNone};
  std::atomic<int32_t> testState{kTestStatePass};
  std::atomic<int32_t> eraseMode{0};       // 0 quick erase, 1 full erase
  std::atomic<int32_t> stopRequest{0};     // set by Cancel, polled between drive commands
  std::atomic<uint64_t> badSectorCount{0};
  std::atomic<uint64_t> regionLength{0};
  std::atomic<uint64_t> lastShownSector{0};
  std::atomic<TransferPace> transferPace{TransferPace::Automatic};
  // Walks pause while the drive is at or above its critical temperature; off, they never do.
  std::atomic<bool> temperatureGuard{true};
  TemperatureWatch temperature;
  // The block times of the last scan of the whole range or its two regions: written by the
  // worker only, read once the run has ended.
  BlockLatencyMap scanLatency;
  // The erase's method and what became of it; the options set before the run starts.
  std::atomic<PurgeMethod> eraseMethod{PurgeMethod::Overwrite};
  std::atomic<bool> liftHpa{false};     // lift a Host Protected Area for an overwrite
  std::atomic<bool> restoreHpa{false};  // ... and put it back afterwards
  PurgeOutcome purge;                   // written by the worker only, read once the run has ended

  std::string lastErrorMessage() const { return m_lastErrorMessage.get(); }
  void setLastErrorMessage(std::string text) { m_lastErrorMessage.set(std::move(text)); }
  // How the last bulk walk reached the device and in what shape ("io_uring, 1024 KiB x
  // 32 in flight"): for the report, written by the worker.
  std::string transferEngine() const { return m_transferEngine.get(); }
  void setTransferEngine(std::string text) { m_transferEngine.set(std::move(text)); }

 private:
  LockedText m_lastErrorMessage;
  LockedText m_transferEngine;
};

}  // namespace palvoro
