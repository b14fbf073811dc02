// Where the settings file lies, decided from a few facts about the system and the host process.
// The Windows side gathers the facts (settings_system_win.cpp); the decision itself is portable.
//
// Threads: the host's thread that calls Init.
#pragma once

#include <cstdint>
#include <string>

namespace kvx {

struct LocationFacts {
  bool versionKnown = false;        // the system answered the version query
  bool ntFamily = false;            // platform id 2
  uint32_t storeInUsersFolder = 0;  // HKLM "SOFTWARE\Zorvinta" "StoreInUsersFolder", 0 if absent
  std::wstring appDataFolder;       // the roaming application-data folder; empty if unknown
  std::wstring hostProgram;         // full path of the host's executable
  std::wstring commandLine;         // the host process's command line as given
  std::wstring moduleFile;          // the plug-in module's own file name (a path is fine)
};

struct SettingsLocation {
  std::wstring instanceId;  // empty or one character, lower case
  std::wstring folder;      // ends in a backslash; its last level is created at load
  std::wstring moduleName;  // the module's file name without its extension
  std::wstring fileName;    // moduleName + ".ini"
  std::wstring path;        // folder + fileName; empty when there is no settings file
};

// Without the version nothing is decided. Without the base folder (the host's, or the
// application-data folder when that is chosen) or the module's name only the instance id is.
SettingsLocation DecideLocation(const LocationFacts& facts);

}  // namespace kvx
