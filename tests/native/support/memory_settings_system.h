// A settings system held in memory: chosen facts, folders and files, with files that exist but
// cannot be opened (locked) and a count of writes.
#pragma once

#include <map>
#include <set>
#include <string>

#include "settings/settings_store.h"

namespace kvx {

class MemorySettingsSystem : public SettingsSystem {
 public:
  LocationFacts facts;
  std::set<std::wstring> folders;  // each ends in a backslash
  std::map<std::wstring, std::string> files;
  std::set<std::wstring> locked;  // exist, but every open fails
  int writes = 0;

  LocationFacts GatherFacts() override { return facts; }
  void CreateFolder(const std::wstring& folder) override;
  bool ReadWhole(const std::wstring& path, std::vector<char>& data) override;
  bool WriteWhole(const std::wstring& path, std::string_view data) override;

 private:
  bool ParentExists(const std::wstring& path) const;
};

// Facts that put the file at C:\Zorvinta\Plugins\KVX_PiP.ini, with C:\Zorvinta\ present.
MemorySettingsSystem HostFolderSystem();
inline const std::wstring kHostFolderIni = L"C:\\Zorvinta\\Plugins\\KVX_PiP.ini";

}  // namespace kvx
