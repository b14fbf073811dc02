// The settings dialog's first page. On the left the PiP card's four devices and the stream's
// format and size, which take effect when the save button rebuilds the capture graph; on the
// right the PiP window's position, size, frame size, opacity, border and colour, the video
// standard and PiP on or off, which act at once. The page keeps no copy of the settings: it
// shows them and follows WM_PIP_UPDATE.
//
// Threads: the host's user-interface thread.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "capture/device_list.h"
#include "ui/dialog_window.h"

namespace kvx {

class DevicePage : public DialogWindow {
 public:
  DevicePage();

 private:
  BOOL OnInitDialog() override;
  void Update(WPARAM code);
  void ShowDevices();
  void ShowFormats();
  void ShowNumber(int spinId, int fieldId, int32_t value, bool tenths);
  void PickDevice(DeviceKind kind);
  void FollowCard(const std::string& capturePath);
  void Spin(HWND spin, int32_t position);
  void ChooseBorderColor();
  void ShowPages(int buttonId);
  void ApplyDevices();
  void Post(WPARAM code);

  // The rows each device list shows, as it was filled: a pick stores what the user saw, even
  // after a rebuild has enumerated the devices anew.
  DeviceList shown_[kDeviceKindCount];
};

}  // namespace kvx
