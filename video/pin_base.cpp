#include "video/pin_base.h"

#include <cstring>
#include <new>

#include "video/filter_base.h"

namespace kvx {

PinBase::PinBase(FilterBase* filter, CriticalSection* lock, const wchar_t* name,
                 PIN_DIRECTION direction)
    : filter_(filter), lock_(lock), name_(name), direction_(direction) {}

PinBase::~PinBase() = default;

HRESULT PinBase::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) {
    return E_POINTER;
  }
  *out = nullptr;
  return LookupInterface(iid, out);
}

ULONG PinBase::AddRef() {
  return filter_->AddRef();
}

ULONG PinBase::Release() {
  return filter_->Release();
}

HRESULT PinBase::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IUnknown || iid == IID_IPin) {
    *out = static_cast<IPin*>(this);
  } else if (iid == IID_IQualityControl) {
    *out = static_cast<IQualityControl*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT PinBase::Connect(IPin*, const AM_MEDIA_TYPE*) {
  return E_UNEXPECTED;
}

HRESULT PinBase::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (connector == nullptr || type == nullptr) {
    return E_POINTER;
  }
  ScopedLock lock(*lock_);
  if (peer_) {
    return VFW_E_ALREADY_CONNECTED;
  }
  if (filter_->State() != State_Stopped) {
    return VFW_E_NOT_STOPPED;
  }
  PIN_DIRECTION peerDirection;
  HRESULT hr = connector->QueryDirection(&peerDirection);
  if (FAILED(hr)) {
    return hr;
  }
  if (peerDirection == direction_) {
    return VFW_E_INVALID_DIRECTION;
  }
  hr = AcceptMediaType(*type);
  if (hr != S_OK) {
    // A refusal that says nothing more specific is reported as the type's refusal.
    return SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG ? VFW_E_TYPE_NOT_ACCEPTED : hr;
  }
  return CompleteConnection(connector, *type);
}

HRESULT PinBase::CompleteConnection(IPin* peer, const AM_MEDIA_TYPE& type) {
  peer_ = ComPtr<IPin>(peer);
  HRESULT hr = ApplyMediaType(type);
  if (SUCCEEDED(hr)) {
    hr = OnConnectionComplete(peer);
  }
  if (FAILED(hr)) {
    peer_.reset();
    connectionType_.Clear();
    OnConnectionBroken();
  }
  return hr;
}

HRESULT PinBase::Disconnect() {
  ScopedLock lock(*lock_);
  if (filter_->State() != State_Stopped) {
    return VFW_E_NOT_STOPPED;
  }
  if (!peer_) {
    return S_FALSE;
  }
  const HRESULT hr = OnConnectionBroken();
  if (FAILED(hr)) {
    return hr;
  }
  peer_.reset();
  connectionType_.Clear();
  return S_OK;
}

HRESULT PinBase::ConnectedTo(IPin** pin) {
  if (pin == nullptr) {
    return E_POINTER;
  }
  ScopedLock lock(*lock_);
  *pin = ComPtr<IPin>(peer_).detach();
  return *pin != nullptr ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT PinBase::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) {
    return E_POINTER;
  }
  ScopedLock lock(*lock_);
  if (!peer_) {
    std::memset(type, 0, sizeof *type);
    return VFW_E_NOT_CONNECTED;
  }
  return connectionType_.CopyTo(type);
}

HRESULT PinBase::QueryPinInfo(PIN_INFO* info) {
  if (info == nullptr) {
    return E_POINTER;
  }
  info->pFilter = filter_;
  filter_->AddRef();
  info->dir = direction_;
  const size_t n = name_.size() < MAX_PIN_NAME - 1 ? name_.size() : MAX_PIN_NAME - 1;
  name_.copy(info->achName, n);
  info->achName[n] = L'\0';
  return S_OK;
}

HRESULT PinBase::QueryDirection(PIN_DIRECTION* direction) {
  if (direction == nullptr) {
    return E_POINTER;
  }
  *direction = direction_;
  return S_OK;
}

HRESULT PinBase::QueryId(LPWSTR* id) {
  if (id == nullptr) {
    return E_POINTER;
  }
  const size_t bytes = (name_.size() + 1) * sizeof(WCHAR);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (*id == nullptr) {
    return E_OUTOFMEMORY;
  }
  std::memcpy(*id, name_.c_str(), bytes);
  return S_OK;
}

HRESULT PinBase::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (type == nullptr) {
    return E_POINTER;
  }
  return AcceptMediaType(*type) == S_OK ? S_OK : S_FALSE;
}

HRESULT PinBase::EnumMediaTypes(IEnumMediaTypes** types) {
  if (types == nullptr) {
    return E_POINTER;
  }
  auto* enumerator = new (std::nothrow) MediaTypeEnumerator(this);
  if (enumerator == nullptr) {
    *types = nullptr;
    return E_OUTOFMEMORY;
  }
  enumerator->AddRef();
  *types = enumerator;
  return S_OK;
}

HRESULT PinBase::QueryInternalConnections(IPin**, ULONG*) {
  return E_NOTIMPL;
}

HRESULT PinBase::EndOfStream() {
  return E_UNEXPECTED;
}

HRESULT PinBase::BeginFlush() {
  return E_UNEXPECTED;
}

HRESULT PinBase::EndFlush() {
  return E_UNEXPECTED;
}

HRESULT PinBase::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  segmentStart_ = start;
  segmentStop_ = stop;
  segmentRate_ = rate;
  return S_OK;
}

HRESULT PinBase::Notify(IBaseFilter* sender, Quality) {
  return sender != nullptr ? S_OK : E_POINTER;
}

HRESULT PinBase::SetSink(IQualityControl* sink) {
  ScopedLock lock(*lock_);
  qualitySink_ = sink;
  return S_OK;
}

HRESULT PinBase::OnActivate() {
  return S_OK;
}

HRESULT PinBase::OnRun(REFERENCE_TIME) {
  return S_OK;
}

HRESULT PinBase::OnDeactivate() {
  return S_OK;
}

HRESULT PinBase::GetMediaType(int, MediaTypeValue*) {
  return E_UNEXPECTED;
}

HRESULT PinBase::ApplyMediaType(const AM_MEDIA_TYPE& type) {
  return connectionType_.Assign(type);
}

HRESULT PinBase::OnConnectionComplete(IPin*) {
  return S_OK;
}

HRESULT PinBase::OnConnectionBroken() {
  return S_OK;
}

InputPinBase::InputPinBase(FilterBase* filter, CriticalSection* lock, const wchar_t* name)
    : PinBase(filter, lock, name, PINDIR_INPUT) {}

InputPinBase::~InputPinBase() = default;

HRESULT InputPinBase::QueryInterface(REFIID iid, void** out) {
  return PinBase::QueryInterface(iid, out);
}

ULONG InputPinBase::AddRef() {
  return PinBase::AddRef();
}

ULONG InputPinBase::Release() {
  return PinBase::Release();
}

HRESULT InputPinBase::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IMemInputPin) {
    *out = static_cast<IMemInputPin*>(this);
    AddRef();
    return S_OK;
  }
  return PinBase::LookupInterface(iid, out);
}

HRESULT InputPinBase::EndOfStream() {
  return S_OK;
}

HRESULT InputPinBase::BeginFlush() {
  ScopedLock lock(pinLock());
  flushing_ = true;
  return S_OK;
}

HRESULT InputPinBase::EndFlush() {
  ScopedLock lock(pinLock());
  flushing_ = false;
  runtimeError_ = false;
  return S_OK;
}

HRESULT InputPinBase::GetAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) {
    return E_POINTER;
  }
  *allocator = nullptr;
  ScopedLock lock(pinLock());
  if (!allocator_) {
    const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IMemAllocator, allocator_.put_void());
    if (FAILED(hr)) {
      return hr;
    }
  }
  *allocator = ComPtr<IMemAllocator>(allocator_).detach();
  return S_OK;
}

HRESULT InputPinBase::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (allocator == nullptr) {
    return E_POINTER;
  }
  ScopedLock lock(pinLock());
  allocator_ = ComPtr<IMemAllocator>(allocator);
  readOnly_ = readOnly != FALSE;
  return S_OK;
}

HRESULT InputPinBase::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
  return E_NOTIMPL;
}

HRESULT InputPinBase::ReceiveMultiple(IMediaSample** samples, long count, long* done) {
  if (samples == nullptr || done == nullptr) {
    return E_POINTER;
  }
  *done = 0;
  HRESULT hr = S_OK;
  while (*done < count) {
    hr = Receive(samples[*done]);
    if (hr != S_OK) {
      break;
    }
    ++*done;
  }
  return hr;
}

HRESULT InputPinBase::OnDeactivate() {
  runtimeError_ = false;
  flushing_ = false;
  if (!allocator_) {
    return VFW_E_NO_ALLOCATOR;
  }
  return allocator_->Decommit();
}

HRESULT InputPinBase::CheckStreaming() const {
  if (filter()->State() == State_Stopped) {
    return VFW_E_WRONG_STATE;
  }
  if (flushing_) {
    return S_FALSE;
  }
  if (runtimeError_) {
    return VFW_E_RUNTIME_ERROR;
  }
  return S_OK;
}

HRESULT InputPinBase::OnConnectionBroken() {
  if (allocator_) {
    const HRESULT hr = allocator_->Decommit();
    if (FAILED(hr)) {
      return hr;
    }
    allocator_.reset();
  }
  return S_OK;
}

MediaTypeEnumerator::MediaTypeEnumerator(PinBase* pin)
    : ComObjectBase(nullptr), pin_(pin), version_(pin->MediaTypeVersion()) {}

HRESULT MediaTypeEnumerator::QueryInterface(REFIID iid, void** out) {
  return Outer()->QueryInterface(iid, out);
}

ULONG MediaTypeEnumerator::AddRef() {
  return Outer()->AddRef();
}

ULONG MediaTypeEnumerator::Release() {
  return Outer()->Release();
}

HRESULT MediaTypeEnumerator::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IEnumMediaTypes) {
    return HandOut(static_cast<IEnumMediaTypes*>(this), out);
  }
  return ComObjectBase::LookupInterface(iid, out);
}

HRESULT MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (types == nullptr) {
    return E_POINTER;
  }
  if (fetched == nullptr && count > 1) {
    return E_INVALIDARG;
  }
  if (OutOfSync()) {
    return VFW_E_ENUM_OUT_OF_SYNC;
  }
  ULONG got = 0;
  while (got < count) {
    MediaTypeValue type;
    if (pin_->GetMediaType(position_, &type) != S_OK) {
      break;
    }
    AM_MEDIA_TYPE* copy = type.NewTaskCopy();
    if (copy == nullptr) {
      for (ULONG i = 0; i < got; ++i) {
        DeleteTaskMediaType(types[i]);
        types[i] = nullptr;
      }
      got = 0;
      if (fetched != nullptr) {
        *fetched = 0;
      }
      return E_OUTOFMEMORY;
    }
    ++position_;
    types[got++] = copy;
  }
  if (fetched != nullptr) {
    *fetched = got;
  }
  return got == count ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnumerator::Skip(ULONG count) {
  if (OutOfSync()) {
    return VFW_E_ENUM_OUT_OF_SYNC;
  }
  for (; count > 0; --count) {
    MediaTypeValue type;
    if (pin_->GetMediaType(position_, &type) != S_OK) {
      return S_FALSE;
    }
    ++position_;
  }
  return S_OK;
}

HRESULT MediaTypeEnumerator::Reset() {
  position_ = 0;
  version_ = pin_->MediaTypeVersion();
  return S_OK;
}

HRESULT MediaTypeEnumerator::Clone(IEnumMediaTypes** clone) {
  if (clone == nullptr) {
    return E_POINTER;
  }
  *clone = nullptr;
  if (OutOfSync()) {
    return VFW_E_ENUM_OUT_OF_SYNC;
  }
  auto* copy = new (std::nothrow) MediaTypeEnumerator(pin_.get());
  if (copy == nullptr) {
    return E_OUTOFMEMORY;
  }
  copy->position_ = position_;
  copy->version_ = version_;
  return HandOut(static_cast<IEnumMediaTypes*>(copy), reinterpret_cast<void**>(clone));
}

}  // namespace kvx
