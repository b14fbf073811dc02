#include "plugin/status_log.h"

#include <atomic>
#include <cstdint>

namespace kvx {
namespace {

std::atomic<StatusLog::Observer> g_observer{nullptr};

struct NamedCode {
  uint32_t code;
  const char* name;
};

constexpr NamedCode kNamedCodes[] = {
    {0x00000000, "O.K."},
    {0x00000001, "S_FALSE"},
    {0x0004027E, "VFW_S_NOPREVIEWPIN"},
    {0x80004001, "E_NOTIMPL"},
    {0x80004002, "E_NOINTERFACE"},
    {0x80004003, "E_POINTER"},
    {0x80004005, "E_FAIL"},
    {0x8000FFFF, "E_UNEXPECTED"},
    {0x80040110, "CLASS_E_NOAGGREGATION"},
    {0x80040154, "REGDB_E_CLASSNOTREG"},
    {0x8007000E, "E_OUTOFMEMORY"},
    {0x80070057, "E_INVALIDARG"},
    {0x80070490, "E_PROP_ID_UNSUPPORTED"},
    {0x80070492, "E_PROP_SET_UNSUPPORTED"},
};

// DirectShow VFW_E_/VFW_S_ and OLE control CTL_E_ codes, named with the empty text. Inclusive
// ranges; 156 codes in all.
struct CodeRange {
  uint32_t first;
  uint32_t last;
};

constexpr CodeRange kUnnamedCodes[] = {
    {0x00040103, 0x00040103}, {0x0004022D, 0x0004022D}, {0x00040237, 0x00040237},
    {0x00040242, 0x00040242}, {0x00040245, 0x00040246}, {0x00040250, 0x00040250},
    {0x00040254, 0x00040254}, {0x00040257, 0x00040258}, {0x0004025A, 0x0004025A},
    {0x00040260, 0x00040260}, {0x00040263, 0x00040263}, {0x00040267, 0x00040268},
    {0x00040270, 0x00040270}, {0x80040200, 0x80040236}, {0x80040238, 0x8004023B},
    {0x80040240, 0x80040241}, {0x80040243, 0x80040244}, {0x80040247, 0x80040249},
    {0x80040251, 0x80040253}, {0x80040255, 0x80040256}, {0x80040259, 0x80040259},
    {0x8004025B, 0x8004025F}, {0x80040261, 0x80040262}, {0x80040264, 0x80040266},
    {0x80040269, 0x80040269}, {0x80040271, 0x8004027B}, {0x8004028B, 0x8004028B},
    {0x8004028E, 0x8004028E}, {0x80040293, 0x80040295}, {0x800403F2, 0x800403F2},
    {0x800A0005, 0x800A0007}, {0x800A000B, 0x800A000B}, {0x800A000E, 0x800A000E},
    {0x800A001C, 0x800A001C}, {0x800A0034, 0x800A0037}, {0x800A0039, 0x800A003B},
    {0x800A003D, 0x800A003D}, {0x800A003F, 0x800A0040}, {0x800A0043, 0x800A0044},
    {0x800A0046, 0x800A0047}, {0x800A004B, 0x800A004C}, {0x800A005D, 0x800A005E},
    {0x800A0141, 0x800A0141}, {0x800A017C, 0x800A017F}, {0x800A0181, 0x800A0181},
    {0x800A0183, 0x800A0183}, {0x800A0189, 0x800A018A}, {0x800A01A6, 0x800A01A6},
    {0x800A01CC, 0x800A01CC}, {0x800A01E1, 0x800A01E2}, {0x800A02DF, 0x800A02DF},
    {0x800A02E8, 0x800A02E8}, {0x800A02EA, 0x800A02EA},
};

void Record(int32_t level, std::string_view text) {
  if (StatusLog::Observer observer = g_observer.load(std::memory_order_acquire)) {
    observer(level, text);
  }
}

}  // namespace

void StatusLog::LogStep(int32_t level, std::string_view text) {
  Record(level, text);
}

void StatusLog::LogFailure(int32_t level, HResult code) {
  LogLine line;
  Record(level, line.Hex(static_cast<uint32_t>(code)).View());
}

void StatusLog::LogResult(int32_t level, HResult code) {
  if (Succeeded(code)) {
    return;
  }
  LogStep(level, ResultName(code));
}

const char* StatusLog::ResultName(HResult code) {
  const auto bits = static_cast<uint32_t>(code);
  for (const NamedCode& named : kNamedCodes) {
    if (named.code == bits) {
      return named.name;
    }
  }
  for (const CodeRange& range : kUnnamedCodes) {
    if (bits >= range.first && bits <= range.last) {
      return "";
    }
  }
  return "UNKNOWN_ERROR";
}

void StatusLog::SetObserverForTesting(Observer observer) {
  g_observer.store(observer, std::memory_order_release);
}

LogLine& LogLine::operator<<(std::string_view text) {
  const size_t room = sizeof text_ - size_;
  const size_t length = text.size() < room ? text.size() : room;
  text.copy(text_ + size_, length);
  size_ += length;
  return *this;
}

LogLine& LogLine::operator<<(int64_t number) {
  char digits[24];
  size_t at = sizeof digits;
  // Through the unsigned magnitude, so the most negative number is written too.
  uint64_t magnitude =
      number < 0 ? 0 - static_cast<uint64_t>(number) : static_cast<uint64_t>(number);
  do {
    digits[--at] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (number < 0) {
    digits[--at] = '-';
  }
  return *this << std::string_view(digits + at, sizeof digits - at);
}

LogLine& LogLine::Hex(uint32_t bits) {
  char digits[10] = {'0', 'x'};
  for (size_t at = sizeof digits; at > 2; bits >>= 4) {
    digits[--at] = "0123456789ABCDEF"[bits & 15];
  }
  return *this << std::string_view(digits, sizeof digits);
}

}  // namespace kvx
