#include "ui/dialog_rules.h"

namespace kvx {

void DeviceSelection::TakeFrom(const PipSettings& s) {
  TVTunerDeviceName = s.TVTunerDeviceName;
  TVTunerDevicePath = s.TVTunerDevicePath;
  TVAudioDeviceName = s.TVAudioDeviceName;
  TVAudioDevicePath = s.TVAudioDevicePath;
  CrossbarDeviceName = s.CrossbarDeviceName;
  CrossbarDevicePath = s.CrossbarDevicePath;
  CaptureDeviceName = s.CaptureDeviceName;
  CaptureDevicePath = s.CaptureDevicePath;
  TVTunerDeviceNameUnique = s.TVTunerDeviceNameUnique;
  TVAudioDeviceNameUnique = s.TVAudioDeviceNameUnique;
  CrossbarDeviceNameUnique = s.CrossbarDeviceNameUnique;
  CaptureDeviceNameUnique = s.CaptureDeviceNameUnique;
  StreamFormat = s.StreamFormat;
  StreamSize = s.StreamSize;
}

void DeviceSelection::PutBack(PipSettings& s) const {
  s.TVTunerDeviceName = TVTunerDeviceName;
  s.TVTunerDevicePath = TVTunerDevicePath;
  s.TVAudioDeviceName = TVAudioDeviceName;
  s.TVAudioDevicePath = TVAudioDevicePath;
  s.CrossbarDeviceName = CrossbarDeviceName;
  s.CrossbarDevicePath = CrossbarDevicePath;
  s.CaptureDeviceName = CaptureDeviceName;
  s.CaptureDevicePath = CaptureDevicePath;
  s.TVTunerDeviceNameUnique = TVTunerDeviceNameUnique;
  s.TVAudioDeviceNameUnique = TVAudioDeviceNameUnique;
  s.CrossbarDeviceNameUnique = CrossbarDeviceNameUnique;
  s.CaptureDeviceNameUnique = CaptureDeviceNameUnique;
  s.StreamFormat = StreamFormat;
  s.StreamSize = StreamSize;
}

void DeviceSelection::FollowRebound(const PipSettings& before, const PipSettings& after) {
  for (auto [path, field] :
       {std::pair{&DeviceSelection::TVTunerDevicePath, &PipSettings::TVTunerDevicePath},
        std::pair{&DeviceSelection::TVAudioDevicePath, &PipSettings::TVAudioDevicePath},
        std::pair{&DeviceSelection::CrossbarDevicePath, &PipSettings::CrossbarDevicePath},
        std::pair{&DeviceSelection::CaptureDevicePath, &PipSettings::CaptureDevicePath}}) {
    if (before.*field != after.*field && this->*path == before.*field) {
      this->*path = after.*field;
    }
  }
}

std::vector<std::string> NumberedNames(const std::vector<std::string>& names) {
  std::vector<std::string> shown;
  shown.reserve(names.size());
  const auto taken = [&](const std::string& name) {
    for (const std::string& other : names) {
      if (other == name) {
        return true;
      }
    }
    for (const std::string& other : shown) {
      if (other == name) {
        return true;
      }
    }
    return false;
  };
  for (size_t i = 0; i < names.size(); ++i) {
    bool earlier = false;
    for (size_t j = 0; j < i; ++j) {
      earlier = earlier || names[j] == names[i];
    }
    if (!earlier) {
      shown.push_back(names[i]);
      continue;
    }
    std::string numbered;
    for (int number = 2; numbered.empty() || taken(numbered); ++number) {
      numbered = names[i] + " #" + std::to_string(number);
    }
    shown.push_back(numbered);
  }
  return shown;
}

DeviceSelection& AppliedDeviceSelection() {
  static DeviceSelection applied;
  return applied;
}

void CancelDialogChanges(SettingsStore& store, const DeviceSelection& applied) {
  const int32_t order = store.current.PiPChannelOrder;
  const int32_t channel = store.current.PiPTVChannel;
  store.Restore();
  applied.PutBack(store.current);
  store.current.PiPChannelOrder = order;
  store.current.PiPTVChannel = channel;
}

std::string TenthsText(int32_t tenths) {
  const int64_t value = tenths;
  const int64_t magnitude = value < 0 ? -value : value;
  return (value < 0 ? "-" : "") + std::to_string(magnitude / 10) + "." +
         std::to_string(magnitude % 10);
}

ScreenPoint DialogPosition(DialogPos stored, int32_t screenWidth, int32_t screenHeight,
                           const ScreenRect& dialog, const ScreenRect& host) {
  const bool neverPlaced = stored.x == -100 && stored.y == -100;
  if (!neverPlaced && stored.x < screenWidth && stored.y < screenHeight) {
    return {stored.x, stored.y};
  }
  // 64-bit sums: a host rectangle near the coordinate limits cannot overflow them.
  const auto centre = [](int32_t a, int32_t b) { return (int64_t{a} + b) / 2; };
  int64_t x = dialog.left + centre(host.left, host.right) - centre(dialog.left, dialog.right);
  int64_t y = dialog.top + centre(host.top, host.bottom) - centre(dialog.top, dialog.bottom);
  const int64_t width = int64_t{dialog.right} - dialog.left;
  const int64_t height = int64_t{dialog.bottom} - dialog.top;
  if (x + width >= screenWidth) {
    x = screenWidth - width;
  }
  if (y + height >= screenHeight) {
    y = screenHeight - height;
  }
  return {static_cast<int32_t>(x < 0 ? 0 : x), static_cast<int32_t>(y < 0 ? 0 : y)};
}

}  // namespace kvx
