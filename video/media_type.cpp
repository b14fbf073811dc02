#include "video/media_type.h"

#include <cstring>

namespace kvx {

HRESULT CopyMediaTypeFields(const AM_MEDIA_TYPE& from, AM_MEDIA_TYPE* to) {
  *to = from;
  to->cbFormat = 0;
  to->pbFormat = nullptr;
  if (from.cbFormat != 0 && from.pbFormat != nullptr) {
    to->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
    if (to->pbFormat == nullptr) {
      std::memset(to, 0, sizeof *to);
      return E_OUTOFMEMORY;
    }
    std::memcpy(to->pbFormat, from.pbFormat, from.cbFormat);
    to->cbFormat = from.cbFormat;
  }
  if (to->pUnk != nullptr) {
    to->pUnk->AddRef();
  }
  return S_OK;
}

void FreeMediaTypeFields(AM_MEDIA_TYPE* type) {
  CoTaskMemFree(type->pbFormat);
  if (type->pUnk != nullptr) {
    type->pUnk->Release();
  }
  std::memset(type, 0, sizeof *type);
}

void DeleteTaskMediaType(AM_MEDIA_TYPE* type) {
  if (type != nullptr) {
    FreeMediaTypeFields(type);
    CoTaskMemFree(type);
  }
}

MediaTypeView ViewOf(const AM_MEDIA_TYPE& type) {
  return MediaTypeView{type.majortype, type.subtype, type.formattype, type.cbFormat, type.pbFormat};
}

MediaTypeValue::MediaTypeValue() {
  std::memset(&type_, 0, sizeof type_);
}

MediaTypeValue::~MediaTypeValue() {
  FreeMediaTypeFields(&type_);
}

MediaTypeValue::MediaTypeValue(const MediaTypeValue& other) : MediaTypeValue() {
  CopyMediaTypeFields(other.type_, &type_);
}

MediaTypeValue& MediaTypeValue::operator=(const MediaTypeValue& other) {
  if (this != &other) {
    Assign(other.type_);
  }
  return *this;
}

HRESULT MediaTypeValue::Assign(const AM_MEDIA_TYPE& type) {
  AM_MEDIA_TYPE copy;
  const HRESULT hr = CopyMediaTypeFields(type, &copy);
  FreeMediaTypeFields(&type_);
  if (SUCCEEDED(hr)) {
    type_ = copy;
  }
  return hr;
}

void MediaTypeValue::Clear() {
  FreeMediaTypeFields(&type_);
}

BYTE* MediaTypeValue::AllocateFormat(ULONG size) {
  CoTaskMemFree(type_.pbFormat);
  type_.cbFormat = 0;
  type_.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (type_.pbFormat != nullptr) {
    std::memset(type_.pbFormat, 0, size);
    type_.cbFormat = size;
  }
  return type_.pbFormat;
}

HRESULT MediaTypeValue::CopyTo(AM_MEDIA_TYPE* out) const {
  return CopyMediaTypeFields(type_, out);
}

AM_MEDIA_TYPE* MediaTypeValue::NewTaskCopy() const {
  auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (copy != nullptr && FAILED(CopyMediaTypeFields(type_, copy))) {
    CoTaskMemFree(copy);
    copy = nullptr;
  }
  return copy;
}

}  // namespace kvx
