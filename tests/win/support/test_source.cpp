#include "tests/win/support/test_source.h"

#include <cstring>
#include <utility>

namespace kvx::test {
namespace {

bool Matches(const GUID& wanted, const GUID& offered) {
  return wanted == GUID_NULL || wanted == offered;
}

bool Complete(const AM_MEDIA_TYPE& type) {
  return type.majortype != GUID_NULL && type.subtype != GUID_NULL && type.formattype != GUID_NULL;
}

}  // namespace

TestSourcePin::TestSourcePin(TestSource* source, CriticalSection* lock)
    : PinBase(source, lock, L"Out", PINDIR_OUTPUT) {}

void TestSourcePin::SetOffered(std::vector<MediaTypeValue> offered) {
  ScopedLock lock(pinLock());
  offered_ = std::move(offered);
  BumpMediaTypeVersion();
}

HRESULT TestSourcePin::GetMediaType(int position, MediaTypeValue* type) {
  ScopedLock lock(pinLock());
  if (position < 0) {
    return E_INVALIDARG;
  }
  if (static_cast<size_t>(position) >= offered_.size()) {
    return VFW_S_NO_MORE_ITEMS;
  }
  return type->Assign(offered_[position].get());
}

HRESULT TestSourcePin::AcceptMediaType(const AM_MEDIA_TYPE& type) {
  for (const MediaTypeValue& offered : offered_) {
    const AM_MEDIA_TYPE& o = offered.get();
    if (type.majortype == o.majortype && type.subtype == o.subtype &&
        type.formattype == o.formattype) {
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT TestSourcePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  if (receivePin == nullptr) {
    return E_POINTER;
  }
  ScopedLock lock(pinLock());
  if (IsConnected()) {
    return VFW_E_ALREADY_CONNECTED;
  }
  if (filter()->State() != State_Stopped) {
    return VFW_E_NOT_STOPPED;
  }
  if (type != nullptr && Complete(*type)) {
    return TryConnect(receivePin, *type);
  }
  for (const MediaTypeValue& offered : std::vector<MediaTypeValue>(offered_)) {
    const AM_MEDIA_TYPE& o = offered.get();
    if (type != nullptr &&
        (!Matches(type->majortype, o.majortype) || !Matches(type->subtype, o.subtype) ||
         !Matches(type->formattype, o.formattype))) {
      continue;
    }
    if (SUCCEEDED(TryConnect(receivePin, o))) {
      return S_OK;
    }
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT TestSourcePin::TryConnect(IPin* receivePin, const AM_MEDIA_TYPE& type) {
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

HRESULT TestSourcePin::OnConnectionComplete(IPin* peer) {
  HRESULT hr = peer->QueryInterface(IID_IMemInputPin, receiver_.put_void());
  if (FAILED(hr)) {
    return hr;
  }
  // The usual allocator handshake, so the peer's allocator calls are exercised; the samples
  // themselves come from the filter's private allocator.
  hr = receiver_->GetAllocator(allocator_.put());
  if (FAILED(hr)) {
    return hr;
  }
  ALLOCATOR_PROPERTIES wanted = {2,
                                 connectionType().get().lSampleSize > 0
                                     ? static_cast<long>(connectionType().get().lSampleSize)
                                     : 1,
                                 1, 0};
  ALLOCATOR_PROPERTIES actual;
  hr = allocator_->SetProperties(&wanted, &actual);
  if (FAILED(hr)) {
    return hr;
  }
  return receiver_->NotifyAllocator(allocator_.get(), FALSE);
}

HRESULT TestSourcePin::OnConnectionBroken() {
  receiver_.reset();
  allocator_.reset();
  return S_OK;
}

ComPtr<IMemInputPin> TestSourcePin::Receiver() {
  ScopedLock lock(pinLock());
  return receiver_;
}

long TestSourcePin::SampleSize() {
  ScopedLock lock(pinLock());
  return static_cast<long>(connectionType().get().lSampleSize);
}

ComPtr<TestSource> TestSource::Create(std::vector<MediaTypeValue> offered) {
  return ComPtr<TestSource>(new TestSource(std::move(offered)));
}

TestSource::TestSource(std::vector<MediaTypeValue> offered)
    : FilterBase(L"Test Source", nullptr, &lock_, CLSID_NULL), pin_(this, &lock_) {
  pin_.SetOffered(std::move(offered));
}

TestSource::~TestSource() {
  StopDelivering();
}

HRESULT TestSource::EnsureSamples(long size) {
  if (samples_ && sampleBufferSize_ >= size) {
    return S_OK;
  }
  if (!samples_) {
    const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IMemAllocator, samples_.put_void());
    if (FAILED(hr)) {
      return hr;
    }
  }
  samples_->Decommit();
  ALLOCATOR_PROPERTIES wanted = {2, size, 1, 0};
  ALLOCATOR_PROPERTIES actual;
  HRESULT hr = samples_->SetProperties(&wanted, &actual);
  if (SUCCEEDED(hr)) {
    hr = samples_->Commit();
  }
  sampleBufferSize_ = SUCCEEDED(hr) ? actual.cbBuffer : 0;
  return hr;
}

HRESULT TestSource::DeliverSample(uint8_t fill, long length) {
  ComPtr<IMemInputPin> receiver = pin_.Receiver();
  if (!receiver) {
    return VFW_E_NOT_CONNECTED;
  }
  if (length < 0) {
    length = pin_.SampleSize();
  }
  ComPtr<IMediaSample> sample;
  {
    std::lock_guard<std::mutex> lock(deliveryLock_);
    HRESULT hr = EnsureSamples(length > 0 ? length : 1);
    if (SUCCEEDED(hr)) {
      hr = samples_->GetBuffer(sample.put(), nullptr, nullptr, 0);
    }
    if (FAILED(hr)) {
      return hr;
    }
  }
  BYTE* data = nullptr;
  HRESULT hr = sample->GetPointer(&data);
  if (FAILED(hr)) {
    return hr;
  }
  std::memset(data, fill, static_cast<size_t>(length));
  hr = sample->SetActualDataLength(length);
  if (FAILED(hr)) {
    return hr;
  }
  return receiver->Receive(sample.get());
}

HRESULT TestSource::DeliverEndOfStream() {
  ComPtr<IPin> peer;
  if (FAILED(pin_.ConnectedTo(peer.put()))) {
    return VFW_E_NOT_CONNECTED;
  }
  return peer->EndOfStream();
}

void TestSource::StartDelivering() {
  StopDelivering();
  stopDelivering_ = false;
  delivery_ = std::thread([this] {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (uint32_t fill = 0; !stopDelivering_.load(); ++fill) {
      const HRESULT hr = DeliverSample(static_cast<uint8_t>(fill));
      if (hr == S_OK) {
        ++stored_;
      } else if (hr == S_FALSE) {
        ++refused_;
      } else {
        ++failed_;
      }
    }
    if (SUCCEEDED(com)) {
      CoUninitialize();
    }
  });
}

void TestSource::StopDelivering() {
  stopDelivering_ = true;
  if (delivery_.joinable()) {
    delivery_.join();
  }
}

}  // namespace kvx::test
