#pragma once
// How the device layer's operations with more than two outcomes end. Each enumeration
// keeps the numbers its callers have always compared against, so a code read back from a
// record or a request log means what it did; an operation that only succeeds or fails
// returns a bool. The tests turn these into their own error codes in one place
// (diagnostics/device_errors.h).

#include <cstdint>

namespace palvoro {

// An ATA command a test sends through an open DriveHandle (smartEnable, smartReturnStatus,
// readVerifyExt, sanitizeBlockErase).
enum class AtaStatus : int32_t {
  Success = 0,
  Failure = 1,  // the request failed, the drive set ERR, or a SMART command lacked 4Fh/C2h
};

// A drive-level request that opens the drive itself: the numbers are the test error codes
// the tests report for each failure.
enum class DriveRequestError : int32_t {
  None = 0,
  TooManyVolumes = 2,  // the drive has more volumes than handles to lock them; the drive stays open
  NoDrive = 4,         // the drive does not open; for the SCT switch also a refused command, for
                       // TRIM also an empty range (nothing is sent)
  Trim = 21,           // the drive refused a DATA SET MANAGEMENT block
};

// SMART RETURN STATUS as the SMART driver, the miniport or ATA pass-through answered it.
enum class SmartReturnStatus : int32_t {
  Undetermined = -1,      // the request failed or the registers say nothing
  ThresholdExceeded = 0,  // F4h/2Ch, or the miniport failing without an error code
  Healthy = 1,            // 4Fh/C2h
};

}  // namespace palvoro
