#include "settings/settings_location.h"

namespace kvx {
namespace {

std::wstring LowerAscii(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c - L'A' + L'a');
    }
  }
  return text;
}

// Sets id to the one character after the first occurrence of marker (empty when nothing
// follows); false, leaving id alone, when marker is absent.
bool CharacterAfter(const std::wstring& text, const wchar_t* marker, std::wstring& id) {
  const size_t found = text.find(marker);
  if (found == std::wstring::npos) {
    return false;
  }
  id = text.substr(found + std::wstring(marker).size(), 1);
  return true;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring ModuleName(const std::wstring& file) {
  const size_t slash = file.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? file : file.substr(slash + 1);
  const size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

}  // namespace

SettingsLocation DecideLocation(const LocationFacts& facts) {
  SettingsLocation location;
  if (!facts.versionKnown) {
    return location;
  }
  std::wstring base;
  if (facts.ntFamily && facts.storeInUsersFolder != 0) {
    if (!facts.appDataFolder.empty()) {
      base = facts.appDataFolder;
      if (base.back() != L'\\') {
        base += L'\\';
      }
      base += L"Zorvinta\\";
    }
  } else {
    base = FolderOf(facts.hostProgram);
  }
  // "/inst:" wins over "-inst:" when both are given.
  const std::wstring command = LowerAscii(facts.commandLine);
  std::wstring id;
  CharacterAfter(command, L"-inst:", id);
  CharacterAfter(command, L"/inst:", id);
  // The id also names the host's windows, so it stands even when there is no file.
  location.instanceId = id;
  const std::wstring moduleName = ModuleName(facts.moduleFile);
  if (base.empty() || moduleName.empty()) {
    return location;
  }
  location.folder = base;
  if (!id.empty()) {
    location.folder += L"Instances\\" + id + L"\\";
  }
  location.folder += L"Plugins\\";
  location.moduleName = moduleName;
  location.fileName = moduleName + L".ini";
  location.path = location.folder + location.fileName;
  return location;
}

}  // namespace kvx
