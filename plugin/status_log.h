// Diagnostic log of the capture-graph steps. The sink keeps nothing: every entry is formed and
// dropped at once. Callable from any thread; it holds no state besides the test observer.
//
// Nothing here allocates: texts come as views, and an entry that needs numbers or names is
// put together in a LogLine, a fixed buffer on the caller's stack. The hotkeys, the mouse and
// the channel commands log on the way, and they must not allocate (base/contained.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/hresult.h"

namespace kvx {

inline constexpr int32_t kLogFailureLevel = 0;
inline constexpr int32_t kLogStepLevel = 1;

class StatusLog {
 public:
  // Records a step text; callers pass level 1.
  static void LogStep(int32_t level, std::string_view text);
  // Records a failed HRESULT without naming it.
  static void LogFailure(int32_t level, HResult code);
  // Nothing for a success code; a failure is recorded under its ResultName.
  static void LogResult(int32_t level, HResult code);
  static const char* ResultName(HResult code);

  // Tests watch the entries through this; null (the default) drops them.
  using Observer = void (*)(int32_t level, std::string_view text);
  static void SetObserverForTesting(Observer observer);
};

// An entry put together from parts; what does not fit is cut off.
class LogLine {
 public:
  LogLine& operator<<(std::string_view text);
  LogLine& operator<<(int64_t number);
  // A result code as the log writes failures: 0x and eight hexadecimal digits.
  LogLine& Hex(uint32_t bits);
  std::string_view View() const { return {text_, size_}; }

 private:
  char text_[256];
  size_t size_ = 0;
};

}  // namespace kvx
