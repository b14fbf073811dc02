// The settings store's view of Windows: the facts that place the settings file (version,
// registry value, application-data folder, host program, command line, the plug-in's own
// module) and whole-file reads and writes with the wide file API, so folder names in any
// language work while the file's bytes stay as they are.
//
// Threads: the host's thread that calls Init and Done.
#pragma once

#include "settings/settings_store.h"

namespace kvx {

class Win32SettingsSystem : public SettingsSystem {
 public:
  // Larger files are taken as unreadable: they are not read and never overwritten.
  static constexpr uint64_t kLargestFile = 16u << 20;

  LocationFacts GatherFacts() override;
  void CreateFolder(const std::wstring& folder) override;
  bool ReadWhole(const std::wstring& path, std::vector<char>& data) override;
  // Through a temporary file in the same folder, swapped in; in place only when no temporary
  // file can be made there.
  bool WriteWhole(const std::wstring& path, std::string_view data) override;

 private:
  static bool WriteInPlace(const std::wstring& path, std::string_view data, bool flush);
};

}  // namespace kvx
