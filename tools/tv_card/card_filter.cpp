#include "tools/tv_card/card_filter.h"

#include <oleauto.h>

#include <string>

namespace tvcard {

CardFilter::CardFilter(Role role)
    : FilterBase(nullptr, nullptr, &filterLock_, ClassOf(role)), role_(role), card_(OpenCard(1)) {}

HRESULT CardFilter::QueryInterface(REFIID iid, void** out) {
  return FilterBase::QueryInterface(iid, out);
}

ULONG CardFilter::AddRef() {
  return FilterBase::AddRef();
}

ULONG CardFilter::Release() {
  return FilterBase::Release();
}

HRESULT CardFilter::GetClassID(CLSID* clsid) {
  return FilterBase::GetClassID(clsid);
}

HRESULT CardFilter::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IPersistPropertyBag) {
    return HandOut(static_cast<IPersistPropertyBag*>(this), out);
  }
  if (iid == IID_ISpecifyPropertyPages) {
    return HandOut(static_cast<ISpecifyPropertyPages*>(this), out);
  }
  return FilterBase::LookupInterface(iid, out);
}

HRESULT CardFilter::InitNew() {
  return S_OK;
}

HRESULT CardFilter::Load(IPropertyBag* bag, IErrorLog* log) {
  if (bag == nullptr) {
    return E_POINTER;
  }
  VARIANT path;
  VariantInit(&path);
  path.vt = VT_BSTR;
  const HRESULT hr = bag->Read(L"DevicePath", &path, log);
  if (FAILED(hr)) {
    return hr;
  }
  const std::wstring text = path.vt == VT_BSTR && path.bstrVal != nullptr ? path.bstrVal : L"";
  VariantClear(&path);
  if (role_ == Role::kCapture && text == kUsbDevicePath) {
    kvx::ScopedLock lock(filterLock_);
    if (State() != State_Stopped) {
      return VFW_E_NOT_STOPPED;
    }
    card_ = OpenCard(kUsbCard);
    return S_OK;
  }
  for (int number = 1; number <= kCardCount; ++number) {
    if (text == DevicePath(number, role_) || text == DevicePath(number, role_, true) ||
        (number == 2 && text == DualSetPath(role_))) {
      kvx::ScopedLock lock(filterLock_);
      if (State() != State_Stopped) {
        return VFW_E_NOT_STOPPED;
      }
      card_ = OpenCard(number);
      return S_OK;
    }
  }
  // Like a driver proxy whose device path leads nowhere.
  return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

HRESULT CardFilter::Save(IPropertyBag*, BOOL, BOOL) {
  return E_NOTIMPL;
}

HRESULT CardFilter::GetPages(CAUUID* pages) {
  if (pages == nullptr) {
    return E_POINTER;
  }
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
  if (pages->pElems == nullptr) {
    pages->cElems = 0;
    return E_OUTOFMEMORY;
  }
  pages->cElems = 1;
  pages->pElems[0] = kClsidDecoderPage;
  return S_OK;
}

std::shared_ptr<CardState> CardFilter::Card() {
  kvx::ScopedLock lock(filterLock_);
  return card_;
}

}  // namespace tvcard
