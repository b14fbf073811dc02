#include "settings/pip_settings.h"

#include <type_traits>
#include <vector>

#include "hotkeys/hotkey_table.h"

namespace kvx {
namespace {

constexpr const char* kNoDevice = "< None >";

std::vector<SettingDescriptor> BuildRows() {
  using K = SettingKind;
  using S = PipSettings;
  std::vector<SettingDescriptor> rows = {
      {K::kText, "TVTunerDeviceName", &S::TVTunerDeviceName, 0, kNoDevice, 0},
      {K::kText, "TVTunerDevicePath", &S::TVTunerDevicePath, 0, "", 0},
      {K::kText, "TVAudioDeviceName", &S::TVAudioDeviceName, 0, kNoDevice, 0},
      {K::kText, "TVAudioDevicePath", &S::TVAudioDevicePath, 0, "", 0},
      {K::kText, "CrossbarDeviceName", &S::CrossbarDeviceName, 0, kNoDevice, 0},
      {K::kText, "CrossbarDevicePath", &S::CrossbarDevicePath, 0, "", 0},
      {K::kText, "CaptureDeviceName", &S::CaptureDeviceName, 0, kNoDevice, 0},
      {K::kText, "CaptureDevicePath", &S::CaptureDevicePath, 0, "", 0},
      {K::kInt32, "StreamFormat", &S::StreamFormat, 1, nullptr, 0},
      {K::kInt32, "StreamSize", &S::StreamSize, 4, nullptr, 0},
      {K::kFlag, "PiPEnable", &S::PiPEnable, 1, nullptr, 0},
      {K::kInt32, "PiPTVChannel", &S::PiPTVChannel, 1, nullptr, 0},
      {K::kInt32, "PiPChannelOrder", &S::PiPChannelOrder, 1, nullptr, 0},
      {K::kUInt32, "SettingsTab", &S::SettingsTab, 0, nullptr, 0},
      {K::kInt32, "PiPWndPosX", &S::PiPWndPosX, 650, nullptr, 0},
      {K::kInt32, "PiPWndPosY", &S::PiPWndPosY, 650, nullptr, 0},
      {K::kInt32, "PiPWndSize", &S::PiPWndSize, 30, nullptr, 0},
      {K::kInt32, "PiPImgSize", &S::PiPImgSize, 105, nullptr, 0},
      {K::kUInt32, "Opacity", &S::Opacity, 60, nullptr, 0},
      {K::kUInt32, "BorderColor", &S::BorderColor, 0xE6E6E6, nullptr, 0},
      {K::kFlag, "BorderEnable", &S::BorderEnable, 1, nullptr, 0},
      {K::kUInt32, "VideoSystem", &S::VideoSystem, 0, nullptr, 0},
      {K::kFlag, "HotKeysEnable", &S::HotKeysEnable, 1, nullptr, 0},
  };
  for (const HotkeyRow& hotkey : HotkeyRows()) {
    rows.push_back({K::kUInt32, hotkey.key, hotkey.field, hotkey.defaultCode, nullptr, 0});
  }
  // Added after the hotkeys, so a file keeps the order it always had.
  rows.insert(
      rows.end(),
      {
          {K::kFlag, "TVTunerDeviceNameUnique", &S::TVTunerDeviceNameUnique, 0, nullptr, 0},
          {K::kFlag, "TVAudioDeviceNameUnique", &S::TVAudioDeviceNameUnique, 0, nullptr, 0},
          {K::kFlag, "CrossbarDeviceNameUnique", &S::CrossbarDeviceNameUnique, 0, nullptr, 0},
          {K::kFlag, "CaptureDeviceNameUnique", &S::CaptureDeviceNameUnique, 0, nullptr, 0},
      });
  return rows;
}

bool IsText(SettingKind kind) {
  return kind == SettingKind::kText;
}

bool IsNumber(SettingKind kind) {
  return static_cast<uint8_t>(kind) < static_cast<uint8_t>(SettingKind::kText);
}

// The value as the kind stores it, widened to 64 bits.
int64_t Narrow(SettingKind kind, int64_t value) {
  switch (kind) {
    case SettingKind::kUInt8:
      return static_cast<uint8_t>(value);
    case SettingKind::kInt16:
      return static_cast<int16_t>(value);
    case SettingKind::kUInt16:
    case SettingKind::kUInt16b:
      return static_cast<uint16_t>(value);
    case SettingKind::kFlag:
    case SettingKind::kUInt32:
    case SettingKind::kUInt32b:
    case SettingKind::kUInt32c:
      return static_cast<uint32_t>(value);
    case SettingKind::kInt32:
    case SettingKind::kInt32b:
      return static_cast<int32_t>(value);
    default:
      return value;
  }
}

void WriteNumber(IniFile& ini, SettingKind kind, const char* key, int64_t value) {
  switch (kind) {
    case SettingKind::kInt16:
    case SettingKind::kInt32:
    case SettingKind::kInt32b:
      ini.WriteInt32(key, static_cast<int32_t>(Narrow(kind, value)));
      break;
    case SettingKind::kInt64:
      ini.WriteInt64(key, value);
      break;
    case SettingKind::kUInt64:
      ini.WriteUInt64(key, static_cast<uint64_t>(value));
      break;
    default:
      ini.WriteUInt32(key, static_cast<uint32_t>(Narrow(kind, value)));
      break;
  }
}

}  // namespace

PipSettings PipSettings::Defaults() {
  IniFile empty;
  PipSettings settings;
  LoadTable(empty, "COMMON", SettingRows(), settings);
  return settings;
}

std::span<const SettingDescriptor> SettingRows() {
  static const std::vector<SettingDescriptor> rows = BuildRows();
  return rows;
}

void LoadTable(IniFile& ini, std::string_view section, std::span<const SettingDescriptor> rows,
               PipSettings& settings) {
  for (const SettingDescriptor& row : rows) {
    std::visit(
        [&](auto member) {
          auto& field = settings.*member;
          using Field = std::remove_reference_t<decltype(field)>;
          if constexpr (std::is_same_v<Field, std::string>) {
            if (IsText(row.kind)) {
              field = ini.ReadText(section, row.key, row.defaultText ? row.defaultText : "");
            }
          } else {
            if (IsNumber(row.kind)) {
              const auto fallback = static_cast<int64_t>(
                  static_cast<uint64_t>(row.defaultHigh) << 32 | row.defaultLow);
              const bool wide = row.kind == SettingKind::kInt64 || row.kind == SettingKind::kUInt64;
              const int64_t value =
                  wide ? ini.ReadInt64(section, row.key, fallback)
                       : ini.ReadInt32(section, row.key, static_cast<int32_t>(fallback));
              field = static_cast<Field>(Narrow(row.kind, value));
            }
          }
        },
        row.field);
  }
}

void SaveTable(IniFile& ini, std::span<const SettingDescriptor> rows, const PipSettings& settings) {
  for (const SettingDescriptor& row : rows) {
    std::visit(
        [&](auto member) {
          const auto& field = settings.*member;
          using Field = std::remove_cvref_t<decltype(field)>;
          if constexpr (std::is_same_v<Field, std::string>) {
            if (IsText(row.kind)) {
              ini.WriteValue(row.key, field);
            }
          } else {
            if (IsNumber(row.kind)) {
              WriteNumber(ini, row.kind, row.key, static_cast<int64_t>(field));
            }
          }
        },
        row.field);
  }
}

}  // namespace kvx
