#include "capture/device_list.h"

#include <oleauto.h>

#include <cwchar>

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

DeviceList& Devices(DeviceKind kind) {
  static DeviceList lists[4];
  return lists[static_cast<int>(kind)];
}

HRESULT FindDevice(const GUID& category, ComPtr<IBaseFilter>* filter, DeviceList& list,
                   const std::string& savedPath, const std::string& savedName,
                   std::string* rebound) {
  filter->reset();
  list.assign(1, DeviceEntry{kNoDeviceName, ""});

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
  ComPtr<IMoniker> moniker;
  // The saved name's first namesake, and how many there are.
  ComPtr<IMoniker> namesake;
  std::string namesakePath;
  int namesakes = 0;
  bool pathListed = false;
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
    list.push_back(entry);
    if (!*filter && entry.path == savedPath) {
      pathListed = true;
      moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter->put_void());
    }
    if (!savedName.empty() && entry.name == savedName && namesakes++ == 0) {
      namesake = moniker;
      namesakePath = entry.path;
    }
  }
  // Only a device that was chosen once and is gone, and only when the name says which it is.
  if (!pathListed && !savedPath.empty() && namesakes == 1 && rebound != nullptr) {
    StatusLog::LogStep(kLogStepLevel, "Device found by its name ... ");
    namesake->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter->put_void());
    if (*filter) {
      *rebound = namesakePath;
    }
  }
  return S_OK;
}

}  // namespace kvx
