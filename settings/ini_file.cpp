#include "settings/ini_file.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <new>

namespace kvx {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

std::string_view TrimLeft(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size() && IsSpace(text[begin])) {
    ++begin;
  }
  return text.substr(begin);
}

std::string_view TrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && IsSpace(text[end - 1])) {
    --end;
  }
  return text.substr(0, end);
}

// Unsigned arithmetic, so digits past the range wrap instead of overflowing.
template <typename Unsigned>
Unsigned ParseWrapped(std::string_view text) {
  std::string_view rest = TrimLeft(text);
  bool negative = false;
  if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
    negative = rest[0] == '-';
    rest.remove_prefix(1);
  }
  Unsigned value = 0;
  for (char c : rest) {
    if (c < '0' || c > '9') {
      break;
    }
    value = static_cast<Unsigned>(value * 10u + static_cast<Unsigned>(c - '0'));
  }
  return negative ? static_cast<Unsigned>(Unsigned{0} - value) : value;
}

template <typename Number>
std::string Decimal(Number value) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof(text), value).ptr;
  return std::string(text, end);
}

}  // namespace

int32_t ParseInt32(std::string_view text) {
  return static_cast<int32_t>(ParseWrapped<uint32_t>(text));
}

int64_t ParseInt64(std::string_view text) {
  return static_cast<int64_t>(ParseWrapped<uint64_t>(text));
}

std::string_view Trim(std::string_view text) {
  return TrimRight(TrimLeft(text));
}

bool IniFile::Load(SettingsFiles& files, const std::wstring& path) {
  files_ = &files;
  path_ = path;
  std::vector<char>().swap(data_);
  cursor_ = 0;
  lastSection_ = 0;
  readWhole_ = files.ReadWhole(path, data_);
  if (!readWhole_) {
    std::vector<char>().swap(data_);
  }
  return readWhole_;
}

bool IniFile::ReadLine(std::string_view& line) {
  line = {};
  const size_t size = data_.size();
  if (cursor_ >= size) {
    return false;
  }
  const size_t start = cursor_;
  while (cursor_ < size && !IsLineBreak(data_[cursor_])) {
    ++cursor_;
  }
  if (cursor_ == size) {
    return false;  // text after the last line break is not a line
  }
  line = std::string_view(data_.data() + start, cursor_ - start);
  ++cursor_;
  // CR LF, LF CR, LF LF and CR CR are each one break.
  if (cursor_ < size && IsLineBreak(data_[cursor_])) {
    ++cursor_;
  }
  return true;
}

bool IniFile::FindSection(std::string_view name) {
  if (data_.empty()) {
    return false;
  }
  const std::string target = "[" + std::string(Trim(name)) + "]";
  cursor_ = lastSection_;
  const size_t start = cursor_;
  bool wrapped = false;
  std::string_view line;
  for (;;) {
    const size_t lineStart = cursor_;
    ReadLine(line);
    if (Trim(line) == target) {
      lastSection_ = lineStart;
      return true;
    }
    if (cursor_ >= data_.size()) {
      if (wrapped) {
        return false;
      }
      cursor_ = 0;
      wrapped = true;
    }
    if (wrapped && cursor_ >= start) {
      return false;
    }
  }
}

bool IniFile::ReadValue(std::string_view section, std::string_view key) {
  value_.clear();
  const std::string_view wanted = Trim(key);
  if (!FindSection(section)) {
    return false;
  }
  std::string_view line;
  while (ReadLine(line)) {
    const std::string_view text = TrimLeft(line);
    if (text.empty()) {
      continue;
    }
    if (text[0] == '[') {
      return false;
    }
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos || TrimRight(text.substr(0, equals)) != wanted) {
      continue;
    }
    // The first occurrence wins, even when it is empty.
    value_ = text.substr(equals + 1);
    return !value_.empty();
  }
  return false;
}

int32_t IniFile::ReadInt32(std::string_view section, std::string_view key, int32_t fallback) {
  return ReadValue(section, key) ? ParseInt32(value_) : fallback;
}

int64_t IniFile::ReadInt64(std::string_view section, std::string_view key, int64_t fallback) {
  return ReadValue(section, key) ? ParseInt64(value_) : fallback;
}

std::string IniFile::ReadText(std::string_view section, std::string_view key,
                              std::string_view fallback) {
  return ReadValue(section, key) ? value_ : std::string(fallback);
}

void IniFile::BeginWrite() {
  output_.reset(new (std::nothrow) char[kOutputStep]);
  outputUsed_ = 0;
  outputCapacity_ = output_ ? kOutputStep : 0;
}

void IniFile::Append(std::string_view text) {
  if (!output_ || text.size() > std::numeric_limits<size_t>::max() - outputUsed_) {
    return;
  }
  const size_t needed = outputUsed_ + text.size();
  size_t capacity = outputCapacity_;
  while (needed > capacity) {
    if (capacity > std::numeric_limits<size_t>::max() - kOutputStep) {
      return;
    }
    capacity += kOutputStep;
  }
  if (capacity != outputCapacity_) {
    std::unique_ptr<char[]> grown(new (std::nothrow) char[capacity]);
    if (!grown) {
      return;
    }
    std::memcpy(grown.get(), output_.get(), outputUsed_);
    output_ = std::move(grown);
    outputCapacity_ = capacity;
  }
  std::memcpy(output_.get() + outputUsed_, text.data(), text.size());
  outputUsed_ = needed;
}

void IniFile::WriteSection(std::string_view name) {
  Append("[" + std::string(Trim(name)) + "]\r\n");
}

void IniFile::WriteValue(std::string_view key, std::string_view text) {
  std::string line(Trim(key));
  line += '=';
  // A line break inside a value (a driver's device name is outside input) would start a line
  // of its own: another key, or a section.
  for (const char c : text) {
    line += c == '\r' || c == '\n' ? ' ' : c;
  }
  line += "\r\n";
  Append(line);
}

void IniFile::WriteInt32(std::string_view key, int32_t value) {
  WriteValue(key, Decimal(value));
}

void IniFile::WriteUInt32(std::string_view key, uint32_t value) {
  WriteValue(key, Decimal(value));
}

void IniFile::WriteInt64(std::string_view key, int64_t value) {
  WriteValue(key, Decimal(value));
}

void IniFile::WriteUInt64(std::string_view key, uint64_t value) {
  WriteValue(key, Decimal(value));
}

bool IniFile::Commit() {
  if (outputUsed_ == 0 || files_ == nullptr || !readWhole_) {
    return false;
  }
  if (outputUsed_ == data_.size() && std::memcmp(output_.get(), data_.data(), outputUsed_) == 0) {
    return false;
  }
  return files_->WriteWhole(path_, Output());
}

}  // namespace kvx
