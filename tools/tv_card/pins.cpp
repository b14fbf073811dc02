#include "tools/tv_card/pins.h"

#include <cstring>

#include "tools/tv_card/card_filter.h"
#include "video/com_ptr.h"

namespace tvcard {
namespace {

bool Fits(const GUID& wanted, const GUID& offered) {
  return wanted == GUID_NULL || wanted == offered;
}

bool Fits(const AM_MEDIA_TYPE* wanted, const AM_MEDIA_TYPE& offered) {
  return wanted == nullptr ||
         (Fits(wanted->majortype, offered.majortype) && Fits(wanted->subtype, offered.subtype) &&
          Fits(wanted->formattype, offered.formattype));
}

bool Complete(const AM_MEDIA_TYPE& type) {
  return type.majortype != GUID_NULL && type.subtype != GUID_NULL && type.formattype != GUID_NULL;
}

}  // namespace

CardPin::CardPin(kvx::FilterBase* filter, kvx::CriticalSection* lock, const wchar_t* name,
                 PIN_DIRECTION direction, Wire wire)
    : PinBase(filter, lock, name, direction), wire_(wire) {}

HRESULT CardPin::QueryInterface(REFIID iid, void** out) {
  return PinBase::QueryInterface(iid, out);
}

ULONG CardPin::AddRef() {
  return PinBase::AddRef();
}

ULONG CardPin::Release() {
  return PinBase::Release();
}

HRESULT CardPin::LookupInterface(REFIID iid, void** out) {
  if (iid == __uuidof(IKsPin) && FaultOn(fault::kMediums)) {
    *out = static_cast<IKsPin*>(this);
    AddRef();
    return S_OK;
  }
  return PinBase::LookupInterface(iid, out);
}

HRESULT CardPin::KsQueryMediums(PKSMULTIPLE_ITEM* mediums) {
  if (mediums == nullptr) {
    return E_POINTER;
  }
  const ULONG bytes = sizeof(KSMULTIPLE_ITEM) + sizeof(KSPIN_MEDIUM);
  auto* list = static_cast<KSMULTIPLE_ITEM*>(CoTaskMemAlloc(bytes));
  if (list == nullptr) {
    return E_OUTOFMEMORY;
  }
  list->Size = bytes;
  list->Count = 1;
  KSPIN_MEDIUM medium = {};
  if (wire_ == Wire::kNone) {
    // KSMEDIUMSETID_Standard: no particular wire.
    medium.Set = {0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
  } else {
    const int card = static_cast<CardFilter*>(filter())->Card()->Number();
    medium.Set = kCardMediumSet;
    medium.Id = static_cast<ULONG>(card * 16 + static_cast<int>(wire_));
  }
  std::memcpy(list + 1, &medium, sizeof medium);
  *mediums = list;
  return S_OK;
}

HRESULT CardPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  if (Direction() != PINDIR_OUTPUT) {
    return PinBase::Connect(receivePin, type);
  }
  if (receivePin == nullptr) {
    return E_POINTER;
  }
  kvx::ScopedLock lock(pinLock());
  if (IsConnected()) {
    return VFW_E_ALREADY_CONNECTED;
  }
  if (filter()->State() != State_Stopped) {
    return VFW_E_NOT_STOPPED;
  }
  if (type != nullptr && Complete(*type)) {
    return AcceptMediaType(*type) == S_OK ? TryConnect(receivePin, *type) : VFW_E_TYPE_NOT_ACCEPTED;
  }
  for (int i = 0;; ++i) {
    kvx::MediaTypeValue offered;
    if (GetMediaType(i, &offered) != S_OK) {
      break;
    }
    if (Fits(type, offered.get()) && SUCCEEDED(TryConnect(receivePin, offered.get()))) {
      return S_OK;
    }
  }
  kvx::ComPtr<IEnumMediaTypes> theirs;
  if (SUCCEEDED(receivePin->EnumMediaTypes(theirs.put()))) {
    AM_MEDIA_TYPE* offered = nullptr;
    while (theirs->Next(1, &offered, nullptr) == S_OK) {
      const bool connected = Fits(type, *offered) && AcceptMediaType(*offered) == S_OK &&
                             SUCCEEDED(TryConnect(receivePin, *offered));
      kvx::DeleteTaskMediaType(offered);
      if (connected) {
        return S_OK;
      }
    }
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CardPin::TryConnect(IPin* receivePin, const AM_MEDIA_TYPE& type) {
  HRESULT hr = receivePin->ReceiveConnection(this, &type);
  if (FAILED(hr)) {
    return hr;
  }
  hr = CompleteConnection(receivePin, type);
  if (FAILED(hr)) {
    receivePin->Disconnect();
  }
  return hr;
}

AnalogPin::AnalogPin(kvx::FilterBase* filter, kvx::CriticalSection* lock, const wchar_t* name,
                     PIN_DIRECTION direction, const GUID& majorType, Wire wire)
    : CardPin(filter, lock, name, direction, wire), majorType_(majorType) {}

HRESULT AnalogPin::GetMediaType(int position, kvx::MediaTypeValue* type) {
  if (position < 0) {
    return E_INVALIDARG;
  }
  if (position > 0) {
    return VFW_S_NO_MORE_ITEMS;
  }
  type->Clear();
  type->mutable_type()->majortype = majorType_;
  return S_OK;
}

HRESULT AnalogPin::AcceptMediaType(const AM_MEDIA_TYPE& type) {
  return type.majortype == majorType_ ? S_OK : S_FALSE;
}

}  // namespace tvcard
