// The settings record: one field per key of the settings file's COMMON section, named by its key,
// and the descriptor table that reads and writes them in file order.
//
// No lock guards the record: the frame step reads the fields on the host's frame thread while
// the hooks and the settings dialog change them on the host's user-interface thread. Every
// numeric field is an aligned 32-bit value written by a single store. The table and its loads
// and saves run on the host's user-interface thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "settings/ini_file.h"

namespace kvx {

struct PipSettings {
  // Device names and paths: Windows-1251 bytes as the file holds them.
  std::string TVTunerDeviceName;
  std::string TVTunerDevicePath;
  std::string TVAudioDeviceName;
  std::string TVAudioDevicePath;
  std::string CrossbarDeviceName;
  std::string CrossbarDevicePath;
  std::string CaptureDeviceName;
  std::string CaptureDevicePath;
  // Whether no other device had the device's name when it was chosen on the device page: only
  // then may a device whose path is gone be found again by its name. 0 in a file from before.
  uint32_t TVTunerDeviceNameUnique = 0;
  uint32_t TVAudioDeviceNameUnique = 0;
  uint32_t CrossbarDeviceNameUnique = 0;
  uint32_t CaptureDeviceNameUnique = 0;
  int32_t StreamFormat = 0;
  int32_t StreamSize = 0;
  uint32_t PiPEnable = 0;
  int32_t PiPTVChannel = 0;
  int32_t PiPChannelOrder = 0;
  uint32_t SettingsTab = 0;
  int32_t PiPWndPosX = 0;
  int32_t PiPWndPosY = 0;
  int32_t PiPWndSize = 0;
  int32_t PiPImgSize = 0;
  uint32_t Opacity = 0;
  uint32_t BorderColor = 0;
  uint32_t BorderEnable = 0;
  uint32_t VideoSystem = 0;
  uint32_t HotKeysEnable = 0;
  // Hotkey codes in the hotkey table's order (hotkeys/hotkey_table.h).
  uint32_t HK_PiPOnOff = 0;
  uint32_t HK_PiPNextChannel = 0;
  uint32_t HK_PiPPrevChannel = 0;
  uint32_t HK_PiPSetChannel_01 = 0;
  uint32_t HK_PiPSetChannel_02 = 0;
  uint32_t HK_PiPSetChannel_03 = 0;
  uint32_t HK_PiPSetChannel_04 = 0;
  uint32_t HK_PiPSetChannel_05 = 0;
  uint32_t HK_PiPSetChannel_06 = 0;
  uint32_t HK_PiPSetChannel_07 = 0;
  uint32_t HK_PiPSetChannel_08 = 0;
  uint32_t HK_PiPSetChannel_09 = 0;
  uint32_t HK_PiPSetChannel_10 = 0;
  uint32_t HK_PiPSetChannel_11 = 0;
  uint32_t HK_PiPSetChannel_12 = 0;
  uint32_t HK_PiPSetChannel_13 = 0;
  uint32_t HK_PiPSetChannel_14 = 0;
  uint32_t HK_PiPSetChannel_15 = 0;
  uint32_t HK_PiPSetChannel_16 = 0;
  uint32_t HK_PiPSetChannel_17 = 0;
  uint32_t HK_PiPSetChannel_18 = 0;
  uint32_t HK_PiPSetChannel_19 = 0;
  uint32_t HK_PiPSetTVMode = 0;
  uint32_t HK_PiPSetVHSMode = 0;
  uint32_t HK_PiPSetSVHSMode = 0;
  uint32_t HK_PiPChannelSwap = 0;
  uint32_t HK_PiPWndShiftLeft = 0;
  uint32_t HK_PiPWndShiftRight = 0;
  uint32_t HK_PiPWndShiftUp = 0;
  uint32_t HK_PiPWndShiftDown = 0;
  uint32_t HK_PiPWndSizePlus = 0;
  uint32_t HK_PiPWndSizeMinus = 0;
  uint32_t HK_PiPWndOpacityPlus = 0;
  uint32_t HK_PiPWndOpacityMinus = 0;

  // The values a missing settings file gives.
  static PipSettings Defaults();

  bool operator==(const PipSettings&) const = default;
};

// How a setting is stored and written; the numbers are the file format's kind codes.
enum class SettingKind : uint8_t {
  kUInt8 = 0,    // "%u", atoi keeping the low 8 bits
  kInt16 = 1,    // "%d", atoi keeping the low 16 bits
  kUInt16 = 2,   // "%u", atoi keeping the low 16 bits
  kUInt16b = 3,  // as 2
  kFlag = 4,     // 32-bit unsigned on/off, "%u", atoi
  kUInt32 = 5,   // "%u", atoi
  kInt32 = 6,    // "%d", atoi
  kUInt32b = 7,  // as 5
  kInt32b = 8,   // as 6
  kUInt32c = 9,  // as 5
  kInt64 = 10,   // decimal, _atoi64
  kUInt64 = 11,  // decimal, _atoi64
  kText = 12,    // the value unchanged
};

using SettingField =
    std::variant<std::string PipSettings::*, int32_t PipSettings::*, uint32_t PipSettings::*>;

struct SettingDescriptor {
  SettingKind kind;
  const char* key;
  SettingField field;
  uint32_t defaultLow;      // the number's low 32 bits
  const char* defaultText;  // for kText
  uint32_t defaultHigh;     // the high 32 bits of a 64-bit default
};

// The 61 rows of section COMMON in file order: the 57 of old, then the device names' records.
std::span<const SettingDescriptor> SettingRows();

// Every row's field receives the file's value in section, or the row's default. Rows of an
// unknown kind, or whose kind does not fit their field, are skipped.
void LoadTable(IniFile& ini, std::string_view section, std::span<const SettingDescriptor> rows,
               PipSettings& settings);
// Writes every row's value, in order, under the section header written last.
void SaveTable(IniFile& ini, std::span<const SettingDescriptor> rows, const PipSettings& settings);

}  // namespace kvx
