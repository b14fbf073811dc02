#include "settings/settings_store.h"

namespace kvx {

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

void LoadSettings(const HostCallbacks* callbacks) {
  SettingsStore& store = Settings();
  store.host = callbacks != nullptr ? *callbacks : HostCallbacks{};
  // No settings file is read yet: every field takes the value a missing file gives.
  store.current = PipSettings::Defaults();
  store.DlgWndPosX = -100;
  store.DlgWndPosY = -100;
}

void SaveSettings() {
  // Nothing is written until the settings file lands; the record lives only in memory.
}

}  // namespace kvx
