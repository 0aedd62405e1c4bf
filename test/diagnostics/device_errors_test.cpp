// The one place a device request's failure becomes a run's test error.

#include "diagnostics/device_errors.h"

#include <gtest/gtest.h>

namespace palvoro {
namespace {

// Each failure keeps the test error number the result page and the message table know it by.
TEST(DeviceErrorsTest, EachRequestFailureIsItsTestError) {
  const struct {
    DriveRequestError error;
    int32_t testError;
  } cases[] = {
      {DriveRequestError::None, 0},
      {DriveRequestError::TooManyVolumes, 2},
      {DriveRequestError::NoDrive, 4},
      {DriveRequestError::Trim, 21},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(testErrorOf(c.error), c.testError) << static_cast<int>(c.error);
    EXPECT_EQ(static_cast<int32_t>(c.error), c.testError) << "the device code is the test error's number";
  }
}

}  // namespace
}  // namespace palvoro
