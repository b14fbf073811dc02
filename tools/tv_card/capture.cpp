#include "tools/tv_card/capture.h"

#include <dvdmedia.h>

#include <chrono>
#include <cstring>
#include <iterator>
#include <mutex>

#include "video/media_guids.h"

namespace tvcard {
namespace {

struct PixelInfo {
  GUID subtype;
  PixelFormat format;
  WORD bits;
  DWORD compression;
};
constexpr PixelInfo kPixels[] = {
    {kvx::kSubtypeYuy2, PixelFormat::kYuy2, 16, MAKEFOURCC('Y', 'U', 'Y', '2')},
    {kvx::kSubtypeUyvy, PixelFormat::kUyvy, 16, MAKEFOURCC('U', 'Y', 'V', 'Y')},
    {kvx::kSubtypeRgb24, PixelFormat::kRgb24, 24, BI_RGB},
};
constexpr SIZE kSizes[] = {{160, 120}, {192, 144}, {320, 240}, {352, 240}, {352, 288}, {384, 288}};
constexpr int kSizeCount = static_cast<int>(std::size(kSizes));
constexpr int kCapabilityCount = static_cast<int>(std::size(kPixels)) * kSizeCount;

static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128);

const PixelInfo* PixelOf(const GUID& subtype) {
  for (const PixelInfo& pixel : kPixels) {
    if (pixel.subtype == subtype) {
      return &pixel;
    }
  }
  return nullptr;
}

const PixelInfo& PixelOf(PixelFormat format) {
  return kPixels[static_cast<int>(format)];
}

bool SizeOffered(LONG width, LONG height) {
  for (const SIZE& size : kSizes) {
    if (size.cx == width && size.cy == height) {
      return true;
    }
  }
  return false;
}

// A layout the card offers; its RGB24 frames come top row first under top-down-rgb.
FrameLayout Offered(PixelFormat format, SIZE size) {
  return {format, static_cast<int>(size.cx), static_cast<int>(size.cy),
          format == PixelFormat::kRgb24 && FaultOn(fault::kTopDownRgb)};
}

// The subtype, frame size and row order of a VIDEOINFOHEADER video type we can produce; nothing
// else in the block is looked at. A negative height is a top-down RGB24 frame; 4:2:2 heights
// are positive.
bool ReadLayout(const AM_MEDIA_TYPE& type, FrameLayout* layout) {
  if (type.majortype != MEDIATYPE_Video || type.formattype != FORMAT_VideoInfo ||
      type.cbFormat < sizeof(VIDEOINFOHEADER) || type.pbFormat == nullptr) {
    return false;
  }
  const PixelInfo* pixel = PixelOf(type.subtype);
  const BITMAPINFOHEADER& header =
      reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  if (pixel == nullptr) {
    return false;
  }
  const bool topDown = pixel->format == PixelFormat::kRgb24 && header.biHeight < 0;
  const LONG height = topDown ? -header.biHeight : header.biHeight;
  if (!SizeOffered(header.biWidth, height)) {
    return false;
  }
  *layout = {pixel->format, static_cast<int>(header.biWidth), static_cast<int>(height), topDown};
  return true;
}

bool EmptyOrWhole(const RECT& r, const FrameLayout& layout) {
  return (r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0) ||
         (r.left == 0 && r.top == 0 && r.right == layout.width && r.bottom == layout.height);
}

// What a strict driver checks of a type ReadLayout could read: every field that the subtype
// and the size decide, and the row order it produces.
bool Consistent(const AM_MEDIA_TYPE& type, const FrameLayout& layout) {
  const auto& vih = *reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
  const BITMAPINFOHEADER& header = vih.bmiHeader;
  const PixelInfo& pixel = PixelOf(layout.format);
  const DWORD bytes = static_cast<DWORD>(FrameBytes(layout));
  return header.biBitCount == pixel.bits && header.biCompression == pixel.compression &&
         header.biPlanes == 1 && header.biSizeImage == bytes && type.lSampleSize == bytes &&
         EmptyOrWhole(vih.rcSource, layout) && EmptyOrWhole(vih.rcTarget, layout) &&
         layout.topDown == Offered(layout.format, {layout.width, layout.height}).topDown;
}

// A complete description of the layout; empty when out of memory.
kvx::MediaTypeValue Describe(const FrameLayout& layout, REFERENCE_TIME interval) {
  const PixelInfo& pixel = PixelOf(layout.format);
  const DWORD bytes = static_cast<DWORD>(FrameBytes(layout));
  kvx::MediaTypeValue value;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(value.AllocateFormat(sizeof(VIDEOINFOHEADER)));
  if (vih == nullptr) {
    return value;
  }
  AM_MEDIA_TYPE* type = value.mutable_type();
  type->majortype = MEDIATYPE_Video;
  type->subtype = pixel.subtype;
  type->bFixedSizeSamples = TRUE;
  type->lSampleSize = bytes;
  type->formattype = FORMAT_VideoInfo;
  vih->AvgTimePerFrame = interval;
  vih->dwBitRate = static_cast<DWORD>(bytes * 8LL * 10000000 / interval);
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = layout.width;
  vih->bmiHeader.biHeight = layout.topDown ? -layout.height : layout.height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = pixel.bits;
  vih->bmiHeader.biCompression = pixel.compression;
  vih->bmiHeader.biSizeImage = bytes;
  return value;
}

// The same description in a VIDEOINFOHEADER2 block.
kvx::MediaTypeValue InVideoInfo2(const kvx::MediaTypeValue& from) {
  kvx::MediaTypeValue value = from;
  if (from.get().pbFormat == nullptr) {
    return value;
  }
  const auto& vih = *reinterpret_cast<const VIDEOINFOHEADER*>(from.get().pbFormat);
  auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(value.AllocateFormat(sizeof(VIDEOINFOHEADER2)));
  if (vih2 != nullptr) {
    vih2->rcSource = vih.rcSource;
    vih2->rcTarget = vih.rcTarget;
    vih2->dwBitRate = vih.dwBitRate;
    vih2->AvgTimePerFrame = vih.AvgTimePerFrame;
    vih2->bmiHeader = vih.bmiHeader;
    value.mutable_type()->formattype = FORMAT_VideoInfo2;
  }
  return value;
}

// Until when each card is away after its device was lost (lost-return), as a tick count; 0 when
// it is there.
std::atomic<DWORD> g_awayUntil[kCardCount + 1] = {};

bool Away(int card) {
  const DWORD until = g_awayUntil[card].load();
  return until != 0 && static_cast<LONG>(until - GetTickCount()) > 0;
}

std::mutex g_setFormatLock;
kvx::MediaTypeValue g_lastSetFormat;
bool g_setFormatSeen = false;

void RememberSetFormat(const AM_MEDIA_TYPE& type) {
  std::lock_guard<std::mutex> hold(g_setFormatLock);
  g_setFormatSeen = SUCCEEDED(g_lastSetFormat.Assign(type));
}

bool SameLayout(const FrameLayout& a, const FrameLayout& b) {
  return a.format == b.format && a.width == b.width && a.height == b.height;
}

}  // namespace

HRESULT LastSetFormat(AM_MEDIA_TYPE* type) {
  std::lock_guard<std::mutex> hold(g_setFormatLock);
  if (!g_setFormatSeen) {
    return S_FALSE;
  }
  g_setFormatSeen = false;
  const HRESULT hr = g_lastSetFormat.CopyTo(type);
  g_lastSetFormat.Clear();
  return hr;
}

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

REFERENCE_TIME CapturePin::Interval() {
  const std::shared_ptr<CardState> card = owner_->Card();
  std::lock_guard<std::mutex> hold(card->lock);
  return FrameInterval(card->standard);
}

HRESULT CapturePin::SetFormat(AM_MEDIA_TYPE* type) {
  if (type == nullptr) {
    return E_POINTER;
  }
  RememberSetFormat(*type);
  FrameLayout layout;
  if (FaultOn(fault::kRefuseSetFormat) || !ReadLayout(*type, &layout) ||
      (FaultOn(fault::kStrictFormat) && !Consistent(*type, layout))) {
    return VFW_E_INVALIDMEDIATYPE;
  }
  kvx::ComPtr<IFilterGraph> graph;
  {
    kvx::ScopedLock lock(pinLock());
    if (filter()->State() != State_Stopped) {
      return VFW_E_NOT_STOPPED;
    }
    if (IsConnected()) {
      const kvx::MediaTypeValue described = Describe(layout, Interval());
      if (peer()->QueryAccept(&described.get()) != S_OK) {
        return VFW_E_INVALIDMEDIATYPE;
      }
      FILTER_INFO info;
      if (SUCCEEDED(filter()->QueryFilterInfo(&info))) {
        graph.attach(info.pGraph);
      }
    }
    format_ = layout;
    formatSet_ = true;
    BumpMediaTypeVersion();
  }
  // Outside the filter lock: the graph takes its own lock and then ours.
  return graph ? graph->Reconnect(this) : S_OK;
}

HRESULT CapturePin::GetFormat(AM_MEDIA_TYPE** type) {
  if (type == nullptr) {
    return E_POINTER;
  }
  if (category_ == PIN_CATEGORY_PREVIEW && FaultOn(fault::kFailPreviewFormat)) {
    return kDeviceFailure;
  }
  kvx::ScopedLock lock(pinLock());
  FrameLayout changed;
  bool wasChanged;
  {
    std::lock_guard<std::mutex> hold(changeLock_);
    wasChanged = changed_;
    changed = changedLayout_;
  }
  if (IsConnected() && wasChanged) {
    *type = Describe(changed, Interval()).NewTaskCopy();
  } else if (IsConnected()) {
    *type = connectionType().NewTaskCopy();
  } else if (FaultOn(fault::kCurrentVideoInfo2)) {
    *type = InVideoInfo2(Describe(format_, Interval())).NewTaskCopy();
  } else {
    *type = Describe(format_, Interval()).NewTaskCopy();
  }
  return *type != nullptr && (*type)->pbFormat != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (count == nullptr || size == nullptr) {
    return E_POINTER;
  }
  *count = kCapabilityCount;
  *size = FaultOn(fault::kShortCaps) ? 64 : sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  if (type == nullptr || caps == nullptr) {
    return E_POINTER;
  }
  *type = nullptr;
  if (index < 0) {
    return E_INVALIDARG;
  }
  if (index >= kCapabilityCount) {
    return S_FALSE;
  }
  const SIZE size = kSizes[index % kSizeCount];
  const FrameLayout layout = Offered(kPixels[index / kSizeCount].format, size);
  kvx::MediaTypeValue described = Describe(layout, Interval());
  if (FaultOn(fault::kForeignCaps) && layout.format == PixelFormat::kUyvy) {
    described = InVideoInfo2(described);
  } else if (FaultOn(fault::kForeignCaps) && layout.format == PixelFormat::kRgb24) {
    described.mutable_type()->subtype = MEDIASUBTYPE_RGB32;
  }
  *type = described.NewTaskCopy();
  if (*type == nullptr || (*type)->pbFormat == nullptr) {
    kvx::DeleteTaskMediaType(*type);
    *type = nullptr;
    return E_OUTOFMEMORY;
  }
  const LONGLONG bitsPerFrame = static_cast<LONGLONG>(FrameBytes(layout)) * 8;
  VIDEO_STREAM_CONFIG_CAPS c = {};
  c.guid = FORMAT_VideoInfo;
  c.VideoStandard = kAvailableStandards;
  c.InputSize = {720, 576};
  c.MinCroppingSize = {720, 480};
  c.MaxCroppingSize = {720, 576};
  c.CropGranularityX = c.CropGranularityY = 1;
  c.CropAlignX = c.CropAlignY = 1;
  c.MinOutputSize = c.MaxOutputSize = size;
  c.StretchTapsX = c.StretchTapsY = 2;
  c.ShrinkTapsX = c.ShrinkTapsY = 2;
  c.MinFrameInterval = FrameInterval(AnalogVideo_NTSC_M);
  c.MaxFrameInterval = FrameInterval(AnalogVideo_PAL_B);
  c.MinBitsPerSecond = static_cast<LONG>(bitsPerFrame * 25);
  c.MaxBitsPerSecond = static_cast<LONG>(bitsPerFrame * 30);
  std::memcpy(caps, &c, sizeof c);
  return S_OK;
}

HRESULT CapturePin::GetMediaType(int position, kvx::MediaTypeValue* type) {
  if (position < 0) {
    return E_INVALIDARG;
  }
  kvx::ScopedLock lock(pinLock());
  const int count = formatSet_ ? 1 : 1 + kCapabilityCount;
  if (position >= count) {
    return VFW_S_NO_MORE_ITEMS;
  }
  FrameLayout layout = format_;
  if (position > 0) {
    layout =
        Offered(kPixels[(position - 1) / kSizeCount].format, kSizes[(position - 1) % kSizeCount]);
  }
  *type = Describe(layout, Interval());
  if (!formatSet_ && FaultOn(fault::kTypesAfterFormat)) {
    type->mutable_type()->subtype = MEDIASUBTYPE_RGB32;
  }
  return type->get().pbFormat != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::AcceptMediaType(const AM_MEDIA_TYPE& type) {
  FrameLayout layout;
  if (!ReadLayout(type, &layout)) {
    return S_FALSE;
  }
  // The sample layout must be the one the subtype says.
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
  if (vih->bmiHeader.biBitCount != PixelOf(layout.format).bits) {
    return S_FALSE;
  }
  kvx::ScopedLock lock(pinLock());
  return !formatSet_ || SameLayout(layout, format_) ? S_OK : S_FALSE;
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
  FrameLayout layout = format_;
  ReadLayout(connectionType().get(), &layout);
  // Buffers for the largest frame of the format, as drivers allocate them: a size changed while
  // streaming still fits.
  layout.width = kSizes[kSizeCount - 1].cx;
  layout.height = kSizes[kSizeCount - 1].cy;
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
  Outlet outlet{this, allocator_, receiver_, kvx::ComPtr<IPin>(peer()), format_, {}};
  ReadLayout(connectionType().get(), &outlet.layout);
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
      videoIn_(this, &filterLock_, L"Analog Video In", PINDIR_INPUT, MEDIATYPE_AnalogVideo),
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

void CaptureFilter::StartReturn() {
  std::lock_guard<std::mutex> hold(returnLock_);
  if (returner_.joinable() || WaitForSingleObject(cancelReturn_, 0) == WAIT_OBJECT_0) {
    return;
  }
  returner_ = std::thread([this] {
    if (WaitForSingleObject(cancelReturn_, kReturnAfterMs) == WAIT_TIMEOUT) {
      NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(Outer()), 1);
    }
  });
}

void CaptureFilter::CancelReturn() {
  SetEvent(cancelReturn_);
  std::lock_guard<std::mutex> hold(returnLock_);
  if (returner_.joinable()) {
    returner_.join();
  }
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
  if (iid == IID_IAMAnalogVideoDecoder) {
    return HandOut(static_cast<IAMAnalogVideoDecoder*>(this), out);
  }
  return CardFilter::LookupInterface(iid, out);
}

kvx::PinBase* CaptureFilter::PinAt(int index) {
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
  if (FaultOn(fault::kRunFails)) {
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

void CaptureFilter::StartStreaming() {
  std::vector<Outlet> outlets;
  for (int i = 1; i < PinCount(); ++i) {
    auto* pin = static_cast<CapturePin*>(PinAt(i));
    if (pin->IsConnected()) {
      outlets.push_back(pin->MakeOutlet());
    }
  }
  ResetEvent(stop_);
  const bool comeBack = FaultOn(fault::kLostReturn);
  const StreamFaults faults{FaultOn(fault::kLost) || comeBack, comeBack, FaultOn(fault::kStall),
                            FaultOn(fault::kFormatChange)};
  thread_ = std::thread(&CaptureFilter::Stream, this, std::move(outlets), Card(), faults);
}

void CaptureFilter::EndStreaming() {
  if (thread_.joinable()) {
    SetEvent(stop_);
    thread_.join();
  }
}

void CaptureFilter::LetGoOfCard() {
  const std::shared_ptr<CardState> card = Card();
  std::lock_guard<std::mutex> hold(card->lock);
  if (card->streamOwner == this) {
    card->streamOwner = nullptr;
  }
}

void CaptureFilter::Stream(std::vector<Outlet> outlets, std::shared_ptr<CardState> card,
                           StreamFaults faults) {
  using Clock = std::chrono::steady_clock;
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::vector<uint32_t> canvas;
  uint32_t number = 0;
  REFERENCE_TIME streamTime = 0;
  Clock::time_point due = Clock::now();
  bool stalled = false;
  Clock::time_point stalledUntil = due;
  for (;;) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
    if (WaitForSingleObject(stop_, wait.count() > 0 ? static_cast<DWORD>(wait.count()) : 0) !=
        WAIT_TIMEOUT) {
      break;
    }
    REFERENCE_TIME interval;
    {
      std::lock_guard<std::mutex> hold(card->lock);
      interval = FrameInterval(card->standard);
    }
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<REFERENCE_TIME, std::ratio<1, 10000000>>(interval));
    due += period;
    if (due < Clock::now()) {
      due = Clock::now() + period;  // fell behind (or was paused): start the beat again
    }
    if (!delivering_ || lost_ || Clock::now() < stalledUntil) {
      continue;
    }
    if (faults.lose && number == kLostAfterFrames) {
      lost_ = true;
      if (faults.comeBack) {
        g_awayUntil[card->Number()] = (GetTickCount() + kReturnAfterMs) | 1;
        StartReturn();
      }
      NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(Outer()), 0);
      continue;
    }
    if (faults.stall && number == kStallFrame && !stalled) {
      stalled = true;
      stalledUntil = Clock::now() + std::chrono::milliseconds(kStallMs);
      continue;
    }
    const Scene scene = card->CurrentScene();
    for (Outlet& outlet : outlets) {
      if (faults.changeFormat && number == kFormatChangeFrame) {
        ChangeFormat(outlet, interval);
      }
      Deliver(outlet, scene, number, streamTime, interval, canvas);
    }
    ++number;
    streamTime += interval;
  }
  outlets.clear();
  if (SUCCEEDED(com)) {
    CoUninitialize();
  }
}

void CaptureFilter::ChangeFormat(Outlet& outlet, REFERENCE_TIME interval) {
  FrameLayout next = outlet.layout;
  const bool small = next.width == 320 && next.height == 240;
  next.width = small ? 352 : 320;
  next.height = small ? 288 : 240;
  kvx::MediaTypeValue type = Describe(next, interval);
  if (!outlet.peer || type.get().pbFormat == nullptr ||
      outlet.peer->QueryAccept(&type.get()) != S_OK) {
    return;  // the peer keeps the size it has
  }
  outlet.announce = type;
  outlet.layout = next;
  outlet.pin->StreamLayout(next);
}

void CaptureFilter::Deliver(Outlet& outlet, const Scene& scene, uint32_t number,
                            REFERENCE_TIME start, REFERENCE_TIME interval,
                            std::vector<uint32_t>& canvas) {
  kvx::ComPtr<IMediaSample> sample;
  if (outlet.allocator->GetBuffer(sample.put(), nullptr, nullptr, AM_GBF_NOWAIT) != S_OK) {
    return;  // none free, or stopping
  }
  BYTE* data = nullptr;
  const long bytes = static_cast<long>(FrameBytes(outlet.layout));
  if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < bytes) {
    return;
  }
  DrawFrame(scene, number, outlet.layout, data, canvas);
  REFERENCE_TIME end = start + interval;
  sample->SetActualDataLength(bytes);
  sample->SetTime(&start, &end);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(number == 0);
  if (outlet.announce.get().pbFormat != nullptr) {
    sample->SetMediaType(outlet.announce.mutable_type());
    outlet.announce.Clear();
  }
  outlet.receiver->Receive(sample.get());
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
