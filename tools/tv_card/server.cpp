// The card's COM server: class objects for the four filters and the property page, its
// registration, and the live-object count for leak checks.
//
// Registration writes, under HKEY_CLASSES_ROOT\CLSID, each class with its InprocServer32 (this
// DLL, ThreadingModel "Both"), and for every card and device an entry
// {category}\Instance\KvxTvCard<n> with "FriendlyName", "CLSID" and "DevicePath", which the
// system device enumerator lists and binds.
//
// Threads: COM calls the exports on any thread; the class objects are free-threaded.
#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <initializer_list>
#include <new>
#include <string>
#include <utility>

#include "tools/tv_card/capture.h"
#include "tools/tv_card/card.h"
#include "tools/tv_card/crossbar.h"
#include "tools/tv_card/decoder_page.h"
#include "tools/tv_card/tuner.h"
#include "tools/tv_card/tv_card.h"
#include "video/com_object.h"
#include "video/com_ptr.h"

namespace tvcard {
namespace {

HMODULE g_module = nullptr;
std::atomic<LONG> g_serverLocks{0};

const wchar_t* CreateFault(Role role) {
  switch (role) {
    case Role::kTuner:
      return fault::kCreateTuner;
    case Role::kTvAudio:
      return fault::kCreateTvAudio;
    case Role::kCrossbar:
      return fault::kCreateCrossbar;
    case Role::kCapture:
      break;
  }
  return fault::kCreateCapture;
}

// A new object of the class, holding no reference; null for an unknown class or no memory.
IUnknown* NewObject(const CLSID& clsid) {
  if (clsid == kClsidDecoderPage) {
    auto* page = new (std::nothrow) DecoderPage();
    return page != nullptr ? page->NonDelegatingUnknown() : nullptr;
  }
  kvx::ComObjectBase* filter = nullptr;
  if (clsid == kClsidTuner) {
    filter = new (std::nothrow) TunerFilter();
  } else if (clsid == kClsidTvAudio) {
    filter = new (std::nothrow) TvAudioFilter();
  } else if (clsid == kClsidCrossbar) {
    filter = new (std::nothrow) CrossbarFilter();
  } else if (clsid == kClsidCapture) {
    filter = new (std::nothrow) CaptureFilter();
  }
  return filter != nullptr ? filter->NonDelegatingUnknown() : nullptr;
}

class ClassFactory final : public kvx::ComObjectBase, public IClassFactory {
 public:
  explicit ClassFactory(const CLSID& clsid) : ComObjectBase(nullptr), clsid_(clsid) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return Outer()->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return Outer()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return Outer()->Release(); }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) {
      return E_POINTER;
    }
    *out = nullptr;
    if (outer != nullptr) {
      return CLASS_E_NOAGGREGATION;
    }
    for (Role role : kRoles) {
      if (clsid_ == ClassOf(role) && (FaultOn(fault::kCreate) || FaultOn(CreateFault(role)))) {
        return kDeviceFailure;
      }
    }
    IUnknown* object = NewObject(clsid_);
    if (object == nullptr) {
      return E_OUTOFMEMORY;
    }
    kvx::ComPtr<IUnknown> hold(object);
    return object->QueryInterface(iid, out);
  }

  STDMETHODIMP LockServer(BOOL lock) override {
    g_serverLocks += lock ? 1 : -1;
    return S_OK;
  }

 protected:
  HRESULT LookupInterface(REFIID iid, void** out) override {
    if (iid == IID_IClassFactory) {
      return HandOut(static_cast<IClassFactory*>(this), out);
    }
    return ComObjectBase::LookupInterface(iid, out);
  }

 private:
  const CLSID clsid_;
};

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

HRESULT SetText(HKEY key, const wchar_t* name, const std::wstring& value) {
  return HRESULT_FROM_WIN32(
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

// Creates HKCR\path and writes the values; name null is the key's default value.
HRESULT WriteKey(const std::wstring& path,
                 std::initializer_list<std::pair<const wchar_t*, std::wstring>> values) {
  HKEY key = nullptr;
  HRESULT hr = HRESULT_FROM_WIN32(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                                  KEY_WRITE, nullptr, &key, nullptr));
  for (const auto& [name, value] : values) {
    if (SUCCEEDED(hr)) {
      hr = SetText(key, name, value);
    }
  }
  if (key != nullptr) {
    RegCloseKey(key);
  }
  return hr;
}

HRESULT DeleteKey(const std::wstring& path) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  if (status == ERROR_SUCCESS) {
    RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
  }
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK
                                                                   : HRESULT_FROM_WIN32(status);
}

struct ClassEntry {
  const CLSID* clsid;
  const wchar_t* name;
};
const ClassEntry kClasses[] = {
    {&kClsidTuner, L"KVX Virtual TV Tuner"},
    {&kClsidTvAudio, L"KVX Virtual TV Audio"},
    {&kClsidCrossbar, L"KVX Virtual Crossbar"},
    {&kClsidCapture, L"KVX Virtual Video Capture"},
    {&kClsidDecoderPage, L"KVX Virtual Video Decoder Page"},
};

std::wstring InstanceKey(const std::wstring& name, Role role) {
  return L"CLSID\\" + GuidText(CategoryOf(role)) + L"\\Instance\\" + name;
}

// Sorts after the cards' entries, so the enumerator lists it last.
constexpr wchar_t kUnreadableName[] = L"KvxTvCardZ";
// Sorts before them.
constexpr wchar_t kFirstName[] = L"KvxTvCard0";
// The USB grabber's capture entry, listed after the cards' own.
constexpr wchar_t kUsbName[] = L"KvxTvCardUsb";

// An entry whose texts are binary values.
HRESULT WriteUnreadable(Role role) {
  HKEY key = nullptr;
  HRESULT hr = HRESULT_FROM_WIN32(RegCreateKeyExW(HKEY_CLASSES_ROOT,
                                                  InstanceKey(kUnreadableName, role).c_str(), 0,
                                                  nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
  const BYTE bytes[] = {'K', 0, 'V', 0, 'X', 0, 0, 0};
  for (const wchar_t* name : {L"FriendlyName", L"DevicePath"}) {
    if (SUCCEEDED(hr)) {
      hr = HRESULT_FROM_WIN32(RegSetValueExW(key, name, 0, REG_BINARY, bytes, sizeof bytes));
    }
  }
  if (key != nullptr) {
    RegCloseKey(key);
  }
  return SUCCEEDED(hr)
             ? WriteKey(InstanceKey(kUnreadableName, role), {{L"CLSID", GuidText(ClassOf(role))}})
             : hr;
}

}  // namespace
}  // namespace tvcard

using namespace tvcard;

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = module;
    DisableThreadLibraryCalls(module);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) {
    return E_POINTER;
  }
  *out = nullptr;
  bool known = false;
  for (const ClassEntry& entry : kClasses) {
    known = known || *entry.clsid == clsid;
  }
  if (!known) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  auto* factory = new (std::nothrow) ClassFactory(clsid);
  if (factory == nullptr) {
    return E_OUTOFMEMORY;
  }
  kvx::ComPtr<IUnknown> hold(factory->NonDelegatingUnknown());
  return hold->QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() {
  return kvx::LiveObject::Count() == 0 && g_serverLocks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
  ResetCardFaults();
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) {
    return E_FAIL;
  }
  HRESULT hr = S_OK;
  for (const ClassEntry& entry : kClasses) {
    const std::wstring key = L"CLSID\\" + GuidText(*entry.clsid);
    if (SUCCEEDED(hr)) {
      hr = WriteKey(key, {{nullptr, entry.name}});
    }
    if (SUCCEEDED(hr)) {
      hr = WriteKey(key + L"\\InprocServer32", {{nullptr, path}, {L"ThreadingModel", L"Both"}});
    }
  }
  const bool withPath = !FaultOn(fault::kNoDevicePath);
  const bool withName = !FaultOn(fault::kNoFriendlyName);
  const bool replugged = FaultOn(fault::kReplug);
  const bool dualSet = FaultOn(fault::kDualSet);
  for (int card = 1; card <= (replugged ? 1 : kCardCount) && SUCCEEDED(hr); ++card) {
    for (Role role : kRoles) {
      // Set 2's tuner is listed first: the order says nothing about which set is which.
      const std::wstring key = InstanceKey(
          dualSet && card == 2 && role == Role::kTuner ? kFirstName : InstanceName(card), role);
      const std::wstring devicePath =
          dualSet && card == 2 ? DualSetPath(role) : DevicePath(card, role, replugged);
      if (SUCCEEDED(hr)) {
        hr = WriteKey(key, {{L"CLSID", GuidText(ClassOf(role))}});
      }
      if (SUCCEEDED(hr) && withName) {
        hr = WriteKey(key, {{L"FriendlyName", FriendlyNameOf(role)}});
      }
      if (SUCCEEDED(hr) && withPath) {
        hr = WriteKey(key, {{L"DevicePath", devicePath}});
      }
    }
  }
  if (FaultOn(fault::kUvc) && SUCCEEDED(hr)) {
    hr = WriteKey(InstanceKey(kUsbName, Role::kCapture), {{L"CLSID", GuidText(kClsidCapture)},
                                                          {L"FriendlyName", kUsbFriendlyName},
                                                          {L"DevicePath", kUsbDevicePath}});
  }
  if (FaultOn(fault::kUnreadableDevice)) {
    for (Role role : kRoles) {
      hr = SUCCEEDED(hr) ? WriteUnreadable(role) : hr;
    }
  }
  return hr;
}

STDAPI DllUnregisterServer() {
  HRESULT hr = S_OK;
  for (int card = 0; card <= kCardCount + 1; ++card) {
    const std::wstring name = card == 0            ? kFirstName
                              : card <= kCardCount ? InstanceName(card)
                                                   : kUnreadableName;
    for (Role role : kRoles) {
      const HRESULT deleted = DeleteKey(InstanceKey(name, role));
      hr = SUCCEEDED(hr) ? deleted : hr;
    }
  }
  const HRESULT usbDeleted = DeleteKey(InstanceKey(kUsbName, Role::kCapture));
  hr = SUCCEEDED(hr) ? usbDeleted : hr;
  for (const ClassEntry& entry : kClasses) {
    const HRESULT deleted = DeleteKey(L"CLSID\\" + GuidText(*entry.clsid));
    hr = SUCCEEDED(hr) ? deleted : hr;
  }
  return hr;
}

extern "C" LONG STDAPICALLTYPE KvxTvCardLiveObjects() {
  return kvx::LiveObject::Count();
}

extern "C" HRESULT STDAPICALLTYPE KvxTvCardLastSetFormat(AM_MEDIA_TYPE* type) {
  return type != nullptr ? LastSetFormat(type) : E_POINTER;
}
