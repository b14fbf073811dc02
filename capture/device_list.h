// The PiP card's devices as the system device enumerator lists them: one list per category,
// refilled by FindDevice at every graph build and read by the device page.
//
// Threads: FindDevice runs in the graph build (the host's thread that calls Init, and the
// user-interface thread for the device page's apply command); the device page reads the lists
// on the user-interface thread. Nothing else touches them.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include "video/com_ptr.h"

namespace kvx {

// Names and paths are Windows-1251 bytes, as the settings file keeps them.
struct DeviceEntry {
  std::string name;
  std::string path;  // empty in the first row, "< None >"

  bool operator==(const DeviceEntry&) const = default;
};
using DeviceList = std::vector<DeviceEntry>;

inline constexpr char kNoDeviceName[] = "< None >";

enum class DeviceKind { kTuner, kTvAudio, kCrossbar, kCapture };

// The category's list: empty at load; after a search "< None >" first, then every device that
// has both a friendly name and a device path, in the enumerator's order.
DeviceList& Devices(DeviceKind kind);

// Refills list from category and binds the device whose path equals savedPath (exactly, case
// included) into *filter; an empty savedPath binds nothing. When no device has that path and
// exactly one has savedName, that one is bound and *rebound gets its path: a USB device plugged
// into another port keeps its name, not its path. Devices whose properties cannot be read are
// left out. Fails only when the enumeration itself cannot be made; S_FALSE for a category
// without devices.
HRESULT FindDevice(const GUID& category, ComPtr<IBaseFilter>* filter, DeviceList& list,
                   const std::string& savedPath, const std::string& savedName = {},
                   std::string* rebound = nullptr);

}  // namespace kvx
