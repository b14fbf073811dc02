#include "capture/device_list.h"

#include <oleauto.h>

#include <cwchar>
#include <utility>
#include <vector>

#include "plugin/status_log.h"

namespace kvx {
namespace {

// Every text the plug-in keeps is Windows-1251, whatever the system's ANSI code page.
constexpr UINT kCodePage = 1251;

std::string ToCp1251(const wchar_t* text) {
  const int length = static_cast<int>(std::wcslen(text));
  if (length == 0) {
    return {};
  }
  const int bytes = WideCharToMultiByte(kCodePage, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(bytes > 0 ? bytes : 0, '\0');
  if (bytes > 0) {
    WideCharToMultiByte(kCodePage, 0, text, length, out.data(), bytes, nullptr, nullptr);
  }
  return out;
}

// A text property; false when the bag has none or holds something else under the name.
bool ReadText(IPropertyBag* bag, const wchar_t* name, std::string* text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  if (FAILED(bag->Read(name, &value, nullptr))) {
    return false;
  }
  const bool isText = value.vt == VT_BSTR && value.bstrVal != nullptr;
  if (isText) {
    *text = ToCp1251(value.bstrVal);
  }
  VariantClear(&value);
  return isText;
}

}  // namespace

DeviceList (&AllDevices())[kDeviceKindCount] {
  static DeviceList lists[kDeviceKindCount];
  return lists;
}

DeviceList& Devices(DeviceKind kind) {
  return AllDevices()[static_cast<int>(kind)];
}

HRESULT FindDevice(const GUID& category, ComPtr<IBaseFilter>* filter, DeviceList& list,
                   const SavedDevice& saved, BindDecision* decision) {
  filter->reset();
  list.assign(1, DeviceEntry{kNoDeviceName, ""});
  if (decision != nullptr) {
    *decision = {};
  }

  StatusLog::LogStep(kLogStepLevel, "Create System Device's Enumerator ... ");
  ComPtr<ICreateDevEnum> devices;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, devices.put_void());
  if (FAILED(hr)) {
    StatusLog::LogResult(kLogFailureLevel, hr);
    return hr;
  }
  StatusLog::LogStep(kLogStepLevel, "Create Class Enumerator ... ");
  ComPtr<IEnumMoniker> monikers;
  hr = devices->CreateClassEnumerator(category, monikers.put(), 0);
  // S_FALSE, not a failure: the category has no devices and there is no enumerator.
  if (hr != S_OK || !monikers) {
    return FAILED(hr) ? hr : S_FALSE;
  }
  monikers->Reset();
  // One per listed row after "< None >".
  std::vector<ComPtr<IMoniker>> listed;
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.put(), nullptr) == S_OK) {
    // One unreadable device must not hide the others, nor fail the search when it comes last.
    ComPtr<IPropertyBag> bag;
    if (!moniker ||
        FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void())) ||
        !bag) {
      continue;
    }
    DeviceEntry entry;
    // An empty path would read as "< None >" and match an empty saved path.
    if (!ReadText(bag.get(), L"FriendlyName", &entry.name) ||
        !ReadText(bag.get(), L"DevicePath", &entry.path) || entry.path.empty()) {
      continue;
    }
    list.push_back(std::move(entry));
    listed.push_back(moniker);
  }
  const BindDecision chosen = ChooseDevice(list, saved);
  HRESULT bound = S_OK;
  if (chosen.row > 0) {
    bound = listed[static_cast<size_t>(chosen.row - 1)]->BindToObject(
        nullptr, nullptr, IID_IBaseFilter, filter->put_void());
  }
  if (decision != nullptr) {
    *decision = chosen;
  }
  // A device the system denies is there but cannot be had; any other failure reads as a device
  // that is not there.
  return bound == E_ACCESSDENIED ? bound : S_OK;
}

ComPtr<IBaseFilter> BindListedDevice(const GUID& category, const std::string& path) {
  ComPtr<IBaseFilter> filter;
  DeviceList list;
  FindDevice(category, &filter, list, SavedDevice{{}, path, false});
  return filter;
}

}  // namespace kvx
