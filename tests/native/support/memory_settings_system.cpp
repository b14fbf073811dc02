#include "tests/native/support/memory_settings_system.h"

namespace kvx {

bool MemorySettingsSystem::ParentExists(const std::wstring& path) const {
  std::wstring trimmed = path;
  while (!trimmed.empty() && trimmed.back() == L'\\') {
    trimmed.pop_back();
  }
  const size_t slash = trimmed.rfind(L'\\');
  return slash != std::wstring::npos && folders.count(trimmed.substr(0, slash + 1)) != 0;
}

void MemorySettingsSystem::CreateFolder(const std::wstring& folder) {
  if (ParentExists(folder)) {
    folders.insert(folder);
  }
}

bool MemorySettingsSystem::ReadWhole(const std::wstring& path, std::vector<char>& data) {
  data.clear();
  if (locked.count(path) != 0) {
    return false;
  }
  auto found = files.find(path);
  if (found == files.end()) {
    if (!ParentExists(path)) {
      return false;
    }
    found = files.emplace(path, std::string()).first;
  }
  data.assign(found->second.begin(), found->second.end());
  return true;
}

bool MemorySettingsSystem::WriteWhole(const std::wstring& path, std::string_view data) {
  if (locked.count(path) != 0 || !ParentExists(path)) {
    return false;
  }
  files[path] = std::string(data);
  ++writes;
  return true;
}

MemorySettingsSystem HostFolderSystem() {
  MemorySettingsSystem system;
  system.facts.versionKnown = true;
  system.facts.ntFamily = true;
  system.facts.hostProgram = L"C:\\Zorvinta\\Zorvinta.exe";
  system.facts.commandLine = L"\"C:\\Zorvinta\\Zorvinta.exe\"";
  system.facts.moduleFile = L"C:\\Zorvinta\\Plugins\\KVX_PiP.dll";
  system.folders = {L"C:\\", L"C:\\Zorvinta\\"};
  return system;
}

}  // namespace kvx
