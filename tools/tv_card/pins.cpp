#include "tools/tv_card/pins.h"

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
                 PIN_DIRECTION direction)
    : PinBase(filter, lock, name, direction) {}

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
                     PIN_DIRECTION direction, const GUID& majorType)
    : CardPin(filter, lock, name, direction), majorType_(majorType) {}

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
