#include "discovery/smart_verdict.h"

namespace palvoro {

SmartStatus smartStatusOfTri(int tri) {
  if (tri == 1) return kSmartStatusHealthy;
  if (tri == 0) return kSmartStatusExceeded;
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
