#include "discovery/smart_verdict.h"

namespace palvoro {

SmartStatus smartStatusOf(SmartReturnStatus answer) {
  switch (answer) {
    case SmartReturnStatus::Healthy:
      return kSmartStatusHealthy;
    case SmartReturnStatus::ThresholdExceeded:
      return kSmartStatusExceeded;
    case SmartReturnStatus::Undetermined:
      return kSmartStatusNone;
  }
  return kSmartStatusNone;
}

SmartStatus combinedSmartStatus(SmartStatus a, SmartStatus b) {
  if (a == kSmartStatusExceeded || b == kSmartStatusExceeded) return kSmartStatusExceeded;
  if (a == kSmartStatusHealthy && b == kSmartStatusHealthy) return kSmartStatusHealthy;
  return kSmartStatusNone;
}

int32_t smartHealthyOf(SmartStatus status, AttributeVerdict attributes) {
  if (status == kSmartStatusExceeded || attributes == AttributeVerdict::Failed) return 0;
  if (status == kSmartStatusHealthy) return 1;
  return attributes == AttributeVerdict::Passed ? 1 : 0;
}

}  // namespace palvoro
