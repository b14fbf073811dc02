#include "settings/settings_store.h"

namespace kvx {
namespace {

constexpr int32_t kDialogNeverPlaced = -100;

SettingsSystem* g_testingSystem = nullptr;

}  // namespace

SettingsStore& Settings() {
  static SettingsStore store;
  return store;
}

const HostChannel* SettingsStore::HostChannelAt(int32_t position) const {
  if (host.getChannel == nullptr) {
    return nullptr;
  }
  return host.getChannel(position);
}

void SettingsStore::Load(const HostCallbacks* callbacks, SettingsSystem& system) {
  host = callbacks != nullptr ? *callbacks : HostCallbacks{};
  location = DecideLocation(system.GatherFacts());
  ini = IniFile();
  if (!location.path.empty()) {
    system.CreateFolder(location.folder);
    ini.Load(system, location.path);
  }
  DlgWndPosX = ini.ReadInt32("DIALOG", "DlgWndPosX", kDialogNeverPlaced);
  DlgWndPosY = ini.ReadInt32("DIALOG", "DlgWndPosY", kDialogNeverPlaced);
  LoadTable(ini, "COMMON", SettingRows(), current);
  loaded_ = current;
  loadedDialogPos_ = GetDialogPos();
  backup_.reset();
}

void SettingsStore::Save() {
  ini.BeginWrite();
  ini.WriteSection("DIALOG");
  ini.WriteInt32("DlgWndPosX", DlgWndPosX);
  ini.WriteInt32("DlgWndPosY", DlgWndPosY);
  ini.WriteSection("COMMON");
  SaveTable(ini, SettingRows(), current);
  // Rewriting drops everything the store does not write itself, so a file with text of its own
  // is rewritten only for a change. A new, empty file always receives the full text.
  const bool changed =
      !(current == loaded_) || DlgWndPosX != loadedDialogPos_.x || DlgWndPosY != loadedDialogPos_.y;
  if (changed || ini.Size() == 0) {
    ini.Commit();
  }
}

void SettingsStore::Snapshot() {
  backup_ = current;
}

void SettingsStore::Restore() {
  if (backup_) {
    current = *backup_;
  }
}

void SettingsStore::SetDialogPos(int32_t x, int32_t y) {
  DlgWndPosX = x;
  DlgWndPosY = y;
}

void SaveSettings() {
  Settings().Save();
}

SettingsSystem* SetSettingsSystemForTesting(SettingsSystem* system) {
  SettingsSystem* previous = g_testingSystem;
  g_testingSystem = system;
  return previous;
}

SettingsSystem& SettingsSystemInUse(SettingsSystem& platform) {
  return g_testingSystem != nullptr ? *g_testingSystem : platform;
}

}  // namespace kvx
