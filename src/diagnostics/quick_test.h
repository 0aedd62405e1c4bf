#pragma once
// The quick test: the drive's own SMART self-test (T13 ACS, SMART EXECUTE OFF-LINE
// IMMEDIATE), started by the worker and followed by timer 1 until it passes, fails or is
// stopped. The drive is opened and closed around every command; no handle stays open
// between polls.

#include <cstdint>

#include "diagnostics/run.h"
#include "protocol/ata_commands.h"

namespace palvoro {

// The self-test request's subcommand 0 here is a probe that only reads the capability
// byte; the others are the drive's own (kSelfTestShort ...).
inline constexpr uint8_t kSelfTestProbeOnly = 0;

// Probe only (subcommand 0): returns byte 367, 0 when the SMART data could not be read,
// or 4 after the run was ended as failed because the drive does not open.
// Start (subcommand 1): starts the conveyance self-test when the drive offers it, else
// (or when it is refused) the short one, arms timer 1 and returns 0; on failure ends the
// run as failed and returns the TestError code (3 unreadable data, 4 no drive, 7 refused).
int quickTestProbeAndStart(TestRun& run, uint8_t subcommand);

// One poll of the running self-test, every ninth tick of timer 1. While the drive still
// works it moves the bar and leaves Cancel reading "Cancel", so the tick re-arms; once
// the self-test passed or failed (or the drive is gone) it ends the run, relabels Cancel
// "Close" and kills the timers, and the tick must not re-arm.
void quickTestPoll(TestRun& run);

// The stop request while timer 1 or 6 runs: bar to 0 and, for a quick test on a SMART
// drive (or an extended test on the RAID enclosure), the self-test aborted on the drive.
void quickTestAbort(TestRun& run);

// The quick test of an NVMe drive: its short Device Self-test, followed through the
// self-test log (06h) by the same timer and polls as the SMART self-test.
enum class NvmeQuickStart {
  Started,     // timer 1 follows the self-test from here
  NoSelfTest,  // the controller offers no Device Self-test: the caller scans instead
  Failed,      // the run was ended as failed (drive not opened, pages not read, refused)
};
NvmeQuickStart nvmeQuickTestStart(TestRun& run);

// The status line of a quick test that scans an NVMe drive without Device Self-test.
inline constexpr const char* kNvmeNoSelfTestStatus =
    "No Device Self-test on this drive: Running Quick Media Scan...";

// Result words of a self-test log entry (bits 3:0 of its first byte); "Unknown" beyond 9.
const char* nvmeSelfTestResultWord(int result);
// Segment words of a failed self-test (the entry's segment number); "Unknown Segment"
// for any number without one.
const char* nvmeSelfTestSegmentWord(int segment);

// Execution status words by the high nibble of byte 363; "Unknown" outside 0..15.
const char* selfTestStatusWord(int status);
// Failure checkpoint words by byte 371; "Unknown Test" for any value without one.
const char* selfTestCheckpointWord(int checkpoint);

}  // namespace palvoro
