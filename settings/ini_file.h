// The settings file's own reader and writer. The whole file is read into memory once, every
// lookup scans that copy, and the file is written back in one piece, regenerated, and only when
// the new text differs from the bytes read. Texts are bytes in the system's ANSI code page
// (Windows-1251 on the systems served); nothing is converted.
//
// Threads: used only on the host's user-interface thread (Init, Done, the settings dialog). It
// holds no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kvx {

// The file access the settings file needs; the platform provides one, tests their own.
class SettingsFiles {
 public:
  virtual ~SettingsFiles() = default;
  // Opens the file for reading, creating it empty when it is missing and never truncating it,
  // and reads all of it into data. False, with data empty, when it could not be opened or read
  // whole.
  virtual bool ReadWhole(const std::wstring& path, std::vector<char>& data) = 0;
  // Creates or truncates the file and writes data in one piece.
  virtual bool WriteWhole(const std::wstring& path, std::string_view data) = 0;
};

// atoi and _atoi64 as the classic C library has them: leading white space, an optional sign,
// then decimal digits up to the first other character; no digits read as 0. Digits beyond the
// type's range wrap around (modulo 2^32 or 2^64), so a 32-bit unsigned value written with "%u"
// reads back unchanged.
int32_t ParseInt32(std::string_view text);
int64_t ParseInt64(std::string_view text);

// The white space trimmed from lines, keys and names: space, tab, CR, LF, VT, FF.
std::string_view Trim(std::string_view text);

class IniFile {
 public:
  static constexpr size_t kOutputStep = 100000;

  // Reads the file at path through files; any earlier data is dropped and the read position
  // and the last found section go back to the start. True when the file was read whole (a
  // missing file is created empty and counts as read). When it could not be read the store
  // holds no data and Commit will not write over the file.
  bool Load(SettingsFiles& files, const std::wstring& path);
  bool ReadWhole() const { return readWhole_; }
  size_t Size() const { return data_.size(); }

  // The next line from the read position, without its line break; the view stays valid until
  // the next Load. False at the end of the data and for text after the last line break.
  bool ReadLine(std::string_view& line);
  // Moves the read position to the line after the header of section name. The search starts
  // at the last header found and wraps around the data once.
  bool FindSection(std::string_view name);
  // True when key has a non-empty value in section; the value is then in Value().
  bool ReadValue(std::string_view section, std::string_view key);
  const std::string& Value() const { return value_; }

  // Typed reads: the file's value converted, or fallback when the key is absent or empty.
  int32_t ReadInt32(std::string_view section, std::string_view key, int32_t fallback);
  int64_t ReadInt64(std::string_view section, std::string_view key, int64_t fallback);
  std::string ReadText(std::string_view section, std::string_view key, std::string_view fallback);

  // Starts a new output text, dropping any earlier one.
  void BeginWrite();
  // Appends "[name]" and CR LF.
  void WriteSection(std::string_view name);
  // Appends "key=text" and CR LF; a CR or LF inside text is written as a space.
  void WriteValue(std::string_view key, std::string_view text);
  void WriteInt32(std::string_view key, int32_t value);
  void WriteUInt32(std::string_view key, uint32_t value);
  void WriteInt64(std::string_view key, int64_t value);
  void WriteUInt64(std::string_view key, uint64_t value);

  // Writes the output over the file loaded last, unless the output is empty, equals the bytes
  // read, or the file could not be read at Load (its contents are unknown, so they are kept).
  // True when the file was written.
  bool Commit();
  std::string_view Output() const { return {output_.get(), outputUsed_}; }
  size_t OutputCapacity() const { return outputCapacity_; }

 private:
  // Appends text; when the output cannot grow the text is dropped and the output kept.
  void Append(std::string_view text);

  SettingsFiles* files_ = nullptr;
  std::wstring path_;
  bool readWhole_ = false;
  std::vector<char> data_;  // exactly the file's bytes
  size_t cursor_ = 0;
  size_t lastSection_ = 0;  // start of the header line found last
  std::string value_;
  std::unique_ptr<char[]> output_;
  size_t outputUsed_ = 0;
  size_t outputCapacity_ = 0;
};

}  // namespace kvx
