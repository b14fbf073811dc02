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
  for (size_t i = 0; i < names.size(); ++i) {
    int earlier = 0;
    for (size_t j = 0; j < i; ++j) {
      earlier += names[j] == names[i] ? 1 : 0;
    }
    shown.push_back(earlier == 0 ? names[i] : names[i] + " #" + std::to_string(earlier + 1));
  }
  return shown;
}

std::string DeviceInstance(const std::string& path) {
  const size_t at = path.rfind("#{");
  return at == std::string::npos ? std::string() : path.substr(0, at);
}

bool SameDeviceInstance(const std::string& a, const std::string& b) {
  const std::string x = DeviceInstance(a);
  const std::string y = DeviceInstance(b);
  if (x.empty() || x.size() != y.size()) {
    return false;
  }
  for (size_t i = 0; i < x.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(x[i]) != lower(y[i])) {
      return false;
    }
  }
  return true;
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
