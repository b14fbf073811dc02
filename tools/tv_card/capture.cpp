#include "tools/tv_card/capture.h"

#include "tools/tv_card/capture_format.h"

namespace tvcard {

CapturePin::CapturePin(CaptureFilter* filter, kvx::CriticalSection* lock, const wchar_t* name,
                       const GUID& category)
    : CardPin(filter, lock, name, PINDIR_OUTPUT), owner_(filter), category_(category) {}

HRESULT CapturePin::QueryInterface(REFIID iid, void** out) {
  return PinBase::QueryInterface(iid, out);
}

ULONG CapturePin::AddRef() {
  return PinBase::AddRef();
}

ULONG CapturePin::Release() {
  return PinBase::Release();
}

HRESULT CapturePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  if (category_ == PIN_CATEGORY_PREVIEW && FaultOn(fault::kPreviewRefuses)) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  // Set to MJPG, the pin offers nothing a system without a decoder can take.
  {
    kvx::ScopedLock lock(pinLock());
    if (formatSet_ && format_.format == PixelFormat::kMjpg) {
      return VFW_E_NO_ACCEPTABLE_TYPES;
    }
  }
  return CardPin::Connect(receivePin, type);
}

HRESULT CapturePin::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IKsPropertySet) {
    *out = static_cast<IKsPropertySet*>(this);
  } else if (iid == IID_IAMStreamConfig) {
    *out = static_cast<IAMStreamConfig*>(this);
  } else {
    return PinBase::LookupInterface(iid, out);
  }
  AddRef();
  return S_OK;
}

HRESULT CapturePin::Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) {
  return E_NOTIMPL;
}

HRESULT CapturePin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD dataBytes,
                        DWORD* returned) {
  if (set != AMPROPSETID_Pin) {
    return E_PROP_SET_UNSUPPORTED;
  }
  if (id != AMPROPERTY_PIN_CATEGORY) {
    return E_PROP_ID_UNSUPPORTED;
  }
  if (data == nullptr) {
    return E_POINTER;
  }
  if (dataBytes < sizeof(GUID)) {
    return E_UNEXPECTED;
  }
  *static_cast<GUID*>(data) = category_;
  if (returned != nullptr) {
    *returned = sizeof(GUID);
  }
  return S_OK;
}

HRESULT CapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (set != AMPROPSETID_Pin) {
    return E_PROP_SET_UNSUPPORTED;
  }
  if (id != AMPROPERTY_PIN_CATEGORY) {
    return E_PROP_ID_UNSUPPORTED;
  }
  if (support != nullptr) {
    *support = KSPROPERTY_SUPPORT_GET;
  }
  return S_OK;
}

HRESULT CapturePin::OnConnectionComplete(IPin* peer) {
  HRESULT hr = peer->QueryInterface(IID_IMemInputPin, receiver_.put_void());
  if (FAILED(hr)) {
    return hr;
  }
  {
    std::lock_guard<std::mutex> hold(changeLock_);
    changed_ = false;
  }
  FrameLayout layout = Current();
  ReadLayout(connectionType().get(), Usb(), &layout);
  // Buffers for the largest frame of the format, as drivers allocate them: a size changed while
  // streaming still fits.
  const SIZE largest = LargestOffered(layout.format, Usb());
  layout.width = static_cast<int>(largest.cx);
  layout.height = static_cast<int>(largest.cy);
  if (FAILED(receiver_->GetAllocator(allocator_.put()))) {
    hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                          allocator_.put_void());
    if (FAILED(hr)) {
      return hr;
    }
  }
  ALLOCATOR_PROPERTIES wanted = {3, static_cast<long>(FrameBytes(layout)), 1, 0};
  ALLOCATOR_PROPERTIES actual;
  hr = allocator_->SetProperties(&wanted, &actual);
  if (FAILED(hr)) {
    return hr;
  }
  if (actual.cbBuffer < wanted.cbBuffer) {
    return VFW_E_SIZENOTSET;
  }
  return receiver_->NotifyAllocator(allocator_.get(), FALSE);
}

HRESULT CapturePin::OnConnectionBroken() {
  if (allocator_) {
    allocator_->Decommit();
  }
  allocator_.reset();
  receiver_.reset();
  return S_OK;
}

HRESULT CapturePin::OnActivate() {
  return allocator_->Commit();
}

HRESULT CapturePin::OnDeactivate() {
  return allocator_->Decommit();
}

Outlet CapturePin::MakeOutlet() {
  Outlet outlet{this, allocator_, receiver_, kvx::ComPtr<IPin>(peer()), Current(), {}};
  ReadLayout(connectionType().get(), Usb(), &outlet.layout);
  std::lock_guard<std::mutex> hold(changeLock_);
  if (changed_) {
    outlet.layout = changedLayout_;
  }
  return outlet;
}

void CapturePin::StreamLayout(const FrameLayout& layout) {
  std::lock_guard<std::mutex> hold(changeLock_);
  changed_ = true;
  changedLayout_ = layout;
}

CaptureFilter::CaptureFilter()
    : CardFilter(Role::kCapture),
      hasPreview_(!FaultOn(fault::kNoPreview)),
      videoIn_(this, &filterLock_, L"Analog Video In", PINDIR_INPUT, MEDIATYPE_AnalogVideo,
               Wire::kDecoderVideo),
      capture_(this, &filterLock_, L"Capture", PIN_CATEGORY_CAPTURE),
      preview_(this, &filterLock_, L"Preview", PIN_CATEGORY_PREVIEW),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      cancelReturn_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CaptureFilter::~CaptureFilter() {
  EndStreaming();
  CancelReturn();
  LetGoOfCard();
  CloseHandle(stop_);
  CloseHandle(cancelReturn_);
}

HRESULT CaptureFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  if (graph == nullptr) {
    CancelReturn();  // the graph's event sink goes with it
  }
  return CardFilter::JoinFilterGraph(graph, name);
}

HRESULT CaptureFilter::QueryInterface(REFIID iid, void** out) {
  return CardFilter::QueryInterface(iid, out);
}

ULONG CaptureFilter::AddRef() {
  return CardFilter::AddRef();
}

ULONG CaptureFilter::Release() {
  return CardFilter::Release();
}

HRESULT CaptureFilter::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IAMAnalogVideoDecoder && !Usb()) {
    return HandOut(static_cast<IAMAnalogVideoDecoder*>(this), out);
  }
  return CardFilter::LookupInterface(iid, out);
}

kvx::PinBase* CaptureFilter::PinAt(int index) {
  if (Usb()) {
    return index == 0 ? &capture_ : nullptr;
  }
  switch (index) {
    case 0:
      return &videoIn_;
    case 1:
      return &capture_;
    case 2:
      return hasPreview_ ? &preview_ : nullptr;
    default:
      return nullptr;
  }
}

HRESULT CaptureFilter::Pause() {
  kvx::ScopedLock lock(filterLock_);
  if (FaultOn(fault::kDenyAccess)) {
    return E_ACCESSDENIED;
  }
  if (State() == State_Stopped) {
    const std::shared_ptr<CardState> card = Card();
    if (lost_ || Away(card->Number())) {
      return kDeviceGone;
    }
    {
      std::lock_guard<std::mutex> hold(card->lock);
      if (card->streamOwner != nullptr && card->streamOwner != this && FaultOn(fault::kBusy)) {
        return kDeviceBusy;
      }
      if (card->streamOwner == nullptr) {
        card->streamOwner = this;
      }
    }
    const HRESULT hr = FilterBase::Pause();
    if (FAILED(hr)) {
      LetGoOfCard();
    }
    return hr;
  }
  delivering_ = false;
  return FilterBase::Pause();
}

HRESULT CaptureFilter::Run(REFERENCE_TIME start) {
  kvx::ScopedLock lock(filterLock_);
  if (FaultOn(fault::kDenyAccess)) {
    return E_ACCESSDENIED;
  }
  if (FaultOn(fault::kRunFails) || TakeFailedRun(Card()->Number())) {
    const HRESULT paused = State() == State_Stopped ? Pause() : S_OK;
    return FAILED(paused) ? paused : kDeviceFailure;
  }
  const HRESULT hr = FilterBase::Run(start);
  if (FAILED(hr)) {
    return hr;
  }
  delivering_ = true;
  if (!thread_.joinable()) {
    StartStreaming();
  }
  return S_OK;
}

HRESULT CaptureFilter::Stop() {
  kvx::ScopedLock lock(filterLock_);
  delivering_ = false;
  SetEvent(stop_);
  // Decommitting the allocators first makes a frame in progress find no buffer.
  const HRESULT hr = FilterBase::Stop();
  EndStreaming();
  LetGoOfCard();
  return hr;
}

HRESULT CaptureFilter::GetState(DWORD timeoutMs, FILTER_STATE* state) {
  const HRESULT hr = FilterBase::GetState(timeoutMs, state);
  return hr == S_OK && *state == State_Paused ? VFW_S_CANT_CUE : hr;
}

void CaptureFilter::LetGoOfCard() {
  const std::shared_ptr<CardState> card = Card();
  std::lock_guard<std::mutex> hold(card->lock);
  if (card->streamOwner == this) {
    card->streamOwner = nullptr;
  }
}

HRESULT CaptureFilter::get_AvailableTVFormats(LONG* standards) {
  if (standards == nullptr) {
    return E_POINTER;
  }
  *standards = kAvailableStandards;
  return S_OK;
}

HRESULT CaptureFilter::put_TVFormat(LONG standard) {
  // Exactly one standard, and one the decoder knows.
  if (standard == 0 || (standard & (standard - 1)) != 0 || (standard & kAvailableStandards) == 0) {
    return E_INVALIDARG;
  }
  const std::shared_ptr<CardState> card = Card();
  std::lock_guard<std::mutex> hold(card->lock);
  card->standard = standard;
  return S_OK;
}

HRESULT CaptureFilter::get_TVFormat(LONG* standard) {
  if (standard == nullptr) {
    return E_POINTER;
  }
  const std::shared_ptr<CardState> card = Card();
  std::lock_guard<std::mutex> hold(card->lock);
  *standard = card->standard;
  return S_OK;
}

HRESULT CaptureFilter::get_HorizontalLocked(LONG* locked) {
  if (locked == nullptr) {
    return E_POINTER;
  }
  const SceneKind kind = Card()->CurrentScene().kind;
  *locked = kind != SceneKind::kSnow && kind != SceneKind::kBlack ? 1 : 0;
  return S_OK;
}

HRESULT CaptureFilter::put_VCRHorizontalLocking(LONG locking) {
  kvx::ScopedLock lock(filterLock_);
  vcrLocking_ = locking;
  return S_OK;
}

HRESULT CaptureFilter::get_VCRHorizontalLocking(LONG* locking) {
  if (locking == nullptr) {
    return E_POINTER;
  }
  kvx::ScopedLock lock(filterLock_);
  *locking = vcrLocking_;
  return S_OK;
}

HRESULT CaptureFilter::get_NumberOfLines(LONG* lines) {
  if (lines == nullptr) {
    return E_POINTER;
  }
  const std::shared_ptr<CardState> card = Card();
  std::lock_guard<std::mutex> hold(card->lock);
  *lines = LinesOf(card->standard);
  return S_OK;
}

HRESULT CaptureFilter::put_OutputEnable(LONG enable) {
  kvx::ScopedLock lock(filterLock_);
  outputEnable_ = enable;
  return S_OK;
}

HRESULT CaptureFilter::get_OutputEnable(LONG* enable) {
  if (enable == nullptr) {
    return E_POINTER;
  }
  kvx::ScopedLock lock(filterLock_);
  *enable = outputEnable_;
  return S_OK;
}

}  // namespace tvcard
