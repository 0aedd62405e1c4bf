// How the device layer's SMART RETURN STATUS answer becomes the status a drive record keeps.

#include "discovery/smart_verdict.h"

#include <gtest/gtest.h>

namespace palvoro {
namespace {

// The answer numbers 0 for exceeded, the record 2: a mix-up would show a failing drive as
// passing or as never asked.
TEST(SmartVerdictTest, ReturnStatusBecomesTheRecordsStatus) {
  const struct {
    SmartReturnStatus answer;
    uint8_t status;
  } cases[] = {
      {SmartReturnStatus::Healthy, 1},
      {SmartReturnStatus::ThresholdExceeded, 2},
      {SmartReturnStatus::Undetermined, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(smartStatusOf(c.answer), c.status) << static_cast<int>(c.answer);
    EXPECT_EQ(smartHealthyOf(smartStatusOf(c.answer), AttributeVerdict::Passed), c.status == 2 ? 0 : 1);
  }
}

}  // namespace
}  // namespace palvoro
