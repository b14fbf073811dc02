// Any bytes as a settings file: the reader stays inside the file's bytes and terminates, and the
// settings it reads are written and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_file.h"
#include "settings/pip_settings.h"

namespace {

// Hands out one text as the only file, in a buffer of exactly its size.
class OneFile : public kvx::SettingsFiles {
 public:
  explicit OneFile(std::string_view text) : text_(text) {}
  bool ReadWhole(const std::wstring&, std::vector<char>& data) override {
    data.assign(text_.begin(), text_.end());
    return true;
  }
  bool WriteWhole(const std::wstring&, std::string_view) override { return true; }

 private:
  std::string_view text_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  OneFile file(text);
  kvx::IniFile ini;
  ini.Load(file, L"fuzz.ini");

  size_t lines = 0;
  std::string_view line;
  while (ini.ReadLine(line)) {
    ++lines;
  }
  // Every line uses up at least its break.
  if (lines > size) {
    std::abort();
  }

  // Names and keys taken from the file itself, so lookups hit as well as miss.
  const size_t cut = size / 2;
  ini.ReadValue(text.substr(0, cut % 17), text.substr(cut, cut % 13));
  ini.ReadInt64("COMMON", text.substr(0, size % 11), 0);
  ini.FindSection(text);

  kvx::PipSettings settings;
  const int32_t x = ini.ReadInt32("DIALOG", "DlgWndPosX", -100);
  kvx::LoadTable(ini, "COMMON", kvx::SettingRows(), settings);

  ini.BeginWrite();
  ini.WriteSection("DIALOG");
  ini.WriteInt32("DlgWndPosX", x);
  ini.WriteSection("COMMON");
  kvx::SaveTable(ini, kvx::SettingRows(), settings);
  const std::string written(ini.Output());
  ini.Commit();

  OneFile again(written);
  kvx::IniFile reread;
  reread.Load(again, L"fuzz.ini");
  kvx::PipSettings back;
  kvx::LoadTable(reread, "COMMON", kvx::SettingRows(), back);
  if (!(back == settings) || reread.ReadInt32("DIALOG", "DlgWndPosX", -100) != x) {
    std::abort();
  }
  return 0;
}
