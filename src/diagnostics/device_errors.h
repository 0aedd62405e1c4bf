#pragma once
// Where a device request's failure becomes the test error a run reports: the one place
// the device layer's codes turn into TestError codes.

#include "device/device_status.h"
#include "diagnostics/run_values.h"

namespace palvoro {

// The TestError a drive-level request's failure is reported as.
constexpr TestErrorCode testErrorOf(DriveRequestError error) {
  switch (error) {
    case DriveRequestError::None:
      return kTestErrorNone;
    case DriveRequestError::TooManyVolumes:
      return kTestErrorTooManyVolumes;
    case DriveRequestError::NoDrive:
      return kTestErrorNoDrive;
    case DriveRequestError::Trim:
      return kTestErrorTrim;
  }
  // A value no enumerator names can only come from a cast gone wrong; it still fails.
  return kTestErrorNoDrive;
}

}  // namespace palvoro
