#include "video/filter_base.h"

#include <algorithm>

#include <new>

#include "video/pin_base.h"

namespace kvx {
namespace {

// Copies at most capacity - 1 characters and always terminates.
void CopyName(const std::wstring& name, WCHAR* out, size_t capacity) {
  const size_t n = name.size() < capacity - 1 ? name.size() : capacity - 1;
  name.copy(out, n);
  out[n] = L'\0';
}

}  // namespace

FilterBase::FilterBase(const wchar_t* name, IUnknown* outer, CriticalSection* lock,
                       const CLSID& clsid)
    : ComObjectBase(outer), lock_(lock), clsid_(clsid), name_(name != nullptr ? name : L"") {}

FilterBase::~FilterBase() = default;

HRESULT FilterBase::QueryInterface(REFIID iid, void** out) {
  return Outer()->QueryInterface(iid, out);
}

ULONG FilterBase::AddRef() {
  return Outer()->AddRef();
}

ULONG FilterBase::Release() {
  return Outer()->Release();
}

HRESULT FilterBase::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist) {
    return HandOut(static_cast<IBaseFilter*>(this), out);
  }
  if (iid == IID_IAMovieSetup) {
    return HandOut(static_cast<IAMovieSetup*>(this), out);
  }
  return ComObjectBase::LookupInterface(iid, out);
}

HRESULT FilterBase::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) {
    return E_POINTER;
  }
  *clsid = clsid_;
  return S_OK;
}

HRESULT FilterBase::Stop() {
  ScopedLock lock(*lock_);
  HRESULT result = S_OK;
  if (state_ != State_Stopped) {
    for (int i = 0; i < PinCount(); ++i) {
      PinBase* pin = PinAt(i);
      if (pin != nullptr && pin->IsConnected()) {
        const HRESULT hr = pin->OnDeactivate();
        if (FAILED(hr) && SUCCEEDED(result)) {
          result = hr;
        }
      }
    }
  }
  state_ = State_Stopped;
  return result;
}

HRESULT FilterBase::Pause() {
  ScopedLock lock(*lock_);
  if (state_ == State_Stopped) {
    for (int i = 0; i < PinCount(); ++i) {
      PinBase* pin = PinAt(i);
      if (pin != nullptr && pin->IsConnected()) {
        const HRESULT hr = pin->OnActivate();
        if (FAILED(hr)) {
          return hr;
        }
      }
    }
  }
  state_ = State_Paused;
  return S_OK;
}

HRESULT FilterBase::Run(REFERENCE_TIME start) {
  ScopedLock lock(*lock_);
  start_ = start;
  if (state_ == State_Stopped) {
    // The derived filter's own Pause, so its pause steps run too.
    const HRESULT hr = static_cast<IBaseFilter*>(this)->Pause();
    if (FAILED(hr)) {
      return hr;
    }
  }
  for (int i = 0; i < PinCount(); ++i) {
    PinBase* pin = PinAt(i);
    if (pin != nullptr && pin->IsConnected()) {
      const HRESULT hr = pin->OnRun(start);
      if (FAILED(hr)) {
        return hr;
      }
    }
  }
  state_ = State_Running;
  return S_OK;
}

HRESULT FilterBase::GetState(DWORD, FILTER_STATE* state) {
  if (state == nullptr) {
    return E_POINTER;
  }
  *state = state_;
  return S_OK;
}

HRESULT FilterBase::SetSyncSource(IReferenceClock* clock) {
  ScopedLock lock(*lock_);
  clock_ = ComPtr<IReferenceClock>(clock);
  return S_OK;
}

HRESULT FilterBase::GetSyncSource(IReferenceClock** clock) {
  if (clock == nullptr) {
    return E_POINTER;
  }
  ScopedLock lock(*lock_);
  *clock = ComPtr<IReferenceClock>(clock_).detach();
  return S_OK;
}

HRESULT FilterBase::EnumPins(IEnumPins** pins) {
  if (pins == nullptr) {
    return E_POINTER;
  }
  auto* enumerator = new (std::nothrow) PinEnumerator(this);
  if (enumerator == nullptr) {
    *pins = nullptr;
    return E_OUTOFMEMORY;
  }
  return HandOut(static_cast<IEnumPins*>(enumerator), reinterpret_cast<void**>(pins));
}

HRESULT FilterBase::FindPin(LPCWSTR id, IPin** pin) {
  if (pin == nullptr) {
    return E_POINTER;
  }
  *pin = nullptr;
  if (id == nullptr) {
    return E_POINTER;
  }
  ScopedLock lock(*lock_);
  for (int i = 0; i < PinCount(); ++i) {
    PinBase* candidate = PinAt(i);
    if (candidate != nullptr && candidate->Name() == id) {
      return HandOut(static_cast<IPin*>(candidate), reinterpret_cast<void**>(pin));
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT FilterBase::QueryFilterInfo(FILTER_INFO* info) {
  if (info == nullptr) {
    return E_POINTER;
  }
  ScopedLock lock(*lock_);
  CopyName(name_, info->achName, MAX_FILTER_NAME);
  info->pGraph = graph_;
  if (graph_ != nullptr) {
    graph_->AddRef();
  }
  return S_OK;
}

HRESULT FilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  ScopedLock lock(*lock_);
  graph_ = graph;
  IMediaEventSink* sink = nullptr;
  if (graph != nullptr &&
      SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
    // Kept without a reference, like the graph itself.
    sink->Release();
  }
  sink_ = sink;
  name_ = name != nullptr ? name : L"";
  return S_OK;
}

HRESULT FilterBase::QueryVendorInfo(LPWSTR*) {
  return E_NOTIMPL;
}

HRESULT FilterBase::Register() {
  return S_FALSE;
}

HRESULT FilterBase::Unregister() {
  return S_FALSE;
}

HRESULT FilterBase::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
  IMediaEventSink* sink = sink_.load();
  if (sink == nullptr) {
    return E_NOTIMPL;
  }
  return sink->Notify(code, param1, param2);
}

PinEnumerator::PinEnumerator(FilterBase* filter) : ComObjectBase(nullptr), filter_(filter) {
  Refresh();
}

HRESULT PinEnumerator::QueryInterface(REFIID iid, void** out) {
  return Outer()->QueryInterface(iid, out);
}

ULONG PinEnumerator::AddRef() {
  return Outer()->AddRef();
}

ULONG PinEnumerator::Release() {
  return Outer()->Release();
}

HRESULT PinEnumerator::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IEnumPins) {
    return HandOut(static_cast<IEnumPins*>(this), out);
  }
  return ComObjectBase::LookupInterface(iid, out);
}

void PinEnumerator::Refresh() {
  ScopedLock lock(filter_->FilterLock());
  version_ = filter_->PinVersion();
  count_ = filter_->PinCount();
  position_ = 0;
}

HRESULT PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (pins == nullptr) {
    return E_POINTER;
  }
  if (fetched == nullptr && count > 1) {
    return E_INVALIDARG;
  }
  if (OutOfSync()) {
    // Starts over but keeps the record of pins already handed out.
    Refresh();
  }
  ULONG got = 0;
  ScopedLock lock(filter_->FilterLock());
  while (got < count && position_ < count_) {
    PinBase* pin = filter_->PinAt(position_++);
    if (pin == nullptr) {
      continue;
    }
    IPin* candidate = pin;
    bool seen = false;
    for (int i = 0; i < returnedCount_; ++i) {
      seen = seen || returned_[i] == candidate;
    }
    if (seen) {
      continue;
    }
    if (returnedCount_ < kMostPins) {
      returned_[returnedCount_++] = candidate;
    }
    candidate->AddRef();
    pins[got++] = candidate;
  }
  if (fetched != nullptr) {
    *fetched = got;
  }
  return got == count ? S_OK : S_FALSE;
}

HRESULT PinEnumerator::Skip(ULONG count) {
  if (OutOfSync()) {
    return VFW_E_ENUM_OUT_OF_SYNC;
  }
  const ULONG left = static_cast<ULONG>(count_ - position_);
  if (count > left) {
    position_ = count_;
    return S_FALSE;
  }
  position_ += static_cast<int>(count);
  return S_OK;
}

HRESULT PinEnumerator::Reset() {
  Refresh();
  returnedCount_ = 0;
  return S_OK;
}

HRESULT PinEnumerator::Clone(IEnumPins** clone) {
  if (clone == nullptr) {
    return E_POINTER;
  }
  *clone = nullptr;
  if (OutOfSync()) {
    return VFW_E_ENUM_OUT_OF_SYNC;
  }
  auto* copy = new (std::nothrow) PinEnumerator(filter_.get());
  if (copy == nullptr) {
    return E_OUTOFMEMORY;
  }
  copy->position_ = position_;
  std::copy(returned_, returned_ + returnedCount_, copy->returned_);
  copy->returnedCount_ = returnedCount_;
  return HandOut(static_cast<IEnumPins*>(copy), reinterpret_cast<void**>(clone));
}

}  // namespace kvx
