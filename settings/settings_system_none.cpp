// Builds without Windows have no host and no settings file: LoadSettings gives the defaults and
// SaveSettings writes nothing, unless a test puts its own system in place.
#include "settings/settings_store.h"

namespace kvx {
namespace {

class NoSettingsSystem : public SettingsSystem {
 public:
  LocationFacts GatherFacts() override { return {}; }
  void CreateFolder(const std::wstring&) override {}
  bool ReadWhole(const std::wstring&, std::vector<char>& data) override {
    data.clear();
    return false;
  }
  bool WriteWhole(const std::wstring&, std::string_view) override { return false; }
};

}  // namespace

void LoadSettings(const HostCallbacks* callbacks) {
  static NoSettingsSystem none;
  Settings().Load(callbacks, SettingsSystemInUse(none));
}

}  // namespace kvx
