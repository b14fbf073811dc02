// Diagnostic log of the capture-graph steps. The sink keeps nothing: every entry is formed and
// dropped at once. Callable from any thread; it holds no state besides the test observer.
#pragma once

#include <cstdint>
#include <string>

#include "base/hresult.h"

namespace kvx {

inline constexpr int32_t kLogFailureLevel = 0;
inline constexpr int32_t kLogStepLevel = 1;

class StatusLog {
 public:
  // Records a step text; callers pass level 1 and build the text afresh for every call.
  static void LogStep(int32_t level, const std::string& text);
  // Records a failed HRESULT without naming it.
  static void LogFailure(int32_t level, HResult code);
  // Nothing for a success code; a failure is recorded under its ResultName.
  static void LogResult(int32_t level, HResult code);
  static const char* ResultName(HResult code);

  // Tests watch the entries through this; null (the default) drops them.
  using Observer = void (*)(int32_t level, const std::string& text);
  static void SetObserverForTesting(Observer observer);
};

}  // namespace kvx
