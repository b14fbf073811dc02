#include "settings/pip_settings.h"

namespace kvx {

PipSettings PipSettings::Defaults() {
  PipSettings s;
  const char* none = "< None >";
  s.TVTunerDeviceName = none;
  s.TVAudioDeviceName = none;
  s.CrossbarDeviceName = none;
  s.CaptureDeviceName = none;
  s.StreamFormat = 1;
  s.StreamSize = 4;
  s.PiPEnable = 1;
  s.PiPTVChannel = 1;
  s.PiPChannelOrder = 1;
  s.SettingsTab = 0;
  s.PiPWndPosX = 650;
  s.PiPWndPosY = 650;
  s.PiPWndSize = 30;
  s.PiPImgSize = 105;
  s.Opacity = 60;
  s.BorderColor = 0xE6E6E6;
  s.BorderEnable = 1;
  s.VideoSystem = 0;
  s.HotKeysEnable = 1;
  return s;
}

}  // namespace kvx
