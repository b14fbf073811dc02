// The settings record: one field per key of the settings file's COMMON section.
//
// No lock guards it: the frame step reads the fields on the host's frame thread while the hooks
// and the settings dialog change them on the host's user-interface thread. Every numeric field
// is an aligned 32-bit value written by a single store.
#pragma once

#include <cstdint>
#include <string>

namespace kvx {

struct PipSettings {
  std::string TVTunerDeviceName;
  std::string TVTunerDevicePath;
  std::string TVAudioDeviceName;
  std::string TVAudioDevicePath;
  std::string CrossbarDeviceName;
  std::string CrossbarDevicePath;
  std::string CaptureDeviceName;
  std::string CaptureDevicePath;
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

  // The values a missing settings file gives.
  static PipSettings Defaults();
};

}  // namespace kvx
