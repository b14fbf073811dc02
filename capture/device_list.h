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

#include "capture/device_binding.h"
#include "video/com_ptr.h"

namespace kvx {

// The category's list: empty at load; after a search "< None >" first, then every device that
// has both a friendly name and a device path, in the enumerator's order.
DeviceList& Devices(DeviceKind kind);
// The four lists, by kind.
DeviceList (&AllDevices())[kDeviceKindCount];

// Refills list from category and binds into *filter the device ChooseDevice picks for the saved
// choice (capture/device_binding.h); *decision says which and why. Devices whose properties
// cannot be read are left out. Fails only when the enumeration itself cannot be made, or with
// E_ACCESSDENIED when the system keeps the chosen device from this program; S_FALSE for a
// category without devices.
HRESULT FindDevice(const GUID& category, ComPtr<IBaseFilter>* filter, DeviceList& list,
                   const SavedDevice& saved, BindDecision* decision = nullptr);

// Binds the listed device of the category with this path; null when it is gone.
ComPtr<IBaseFilter> BindListedDevice(const GUID& category, const std::string& path);

}  // namespace kvx
