#include "tests/win/support/frame_sink.h"

#include <chrono>

namespace kvx::test {

FrameSinkPin::FrameSinkPin(FrameSink* sink, CriticalSection* lock)
    : InputPinBase(sink, lock, L"In"), sink_(sink) {}

HRESULT FrameSinkPin::AcceptMediaType(const AM_MEDIA_TYPE& type) {
  const bool subtype = type.subtype == MEDIASUBTYPE_YUY2 || type.subtype == MEDIASUBTYPE_UYVY ||
                       type.subtype == MEDIASUBTYPE_RGB24;
  return type.majortype == MEDIATYPE_Video && subtype && type.formattype == FORMAT_VideoInfo &&
                 type.cbFormat >= sizeof(VIDEOINFOHEADER)
             ? S_OK
             : S_FALSE;
}

HRESULT FrameSinkPin::Receive(IMediaSample* sample) {
  if (sample == nullptr) {
    return E_POINTER;
  }
  const HRESULT hr = CheckStreaming();
  return hr == S_OK ? sink_->Take(sample) : hr;
}

HRESULT FrameSinkPin::ReceiveCanBlock() {
  return S_OK;
}

HRESULT FrameSinkPin::BeginFlush() {
  sink_->ReleaseHeld();
  return InputPinBase::BeginFlush();
}

MediaTypeValue FrameSinkPin::Type() {
  ScopedLock lock(pinLock());
  return connectionType();
}

ComPtr<FrameSink> FrameSink::Create() {
  return ComPtr<FrameSink>(new FrameSink());
}

FrameSink::FrameSink()
    : FilterBase(L"Frame Sink", nullptr, &lock_, CLSID_NULL), pin_(this, &lock_) {}

HRESULT FrameSink::Stop() {
  ReleaseHeld();
  return FilterBase::Stop();
}

HRESULT FrameSink::Pause() {
  ScopedLock lock(lock_);
  if (State() == State_Stopped) {
    std::lock_guard<std::mutex> hold(mutex_);
    released_ = false;
  }
  return FilterBase::Pause();
}

void FrameSink::ReleaseHeld() {
  std::lock_guard<std::mutex> hold(mutex_);
  released_ = true;
  changed_.notify_all();
}

HRESULT FrameSink::Take(IMediaSample* sample) {
  BYTE* data = nullptr;
  HRESULT hr = sample->GetPointer(&data);
  if (FAILED(hr)) {
    return hr;
  }
  Frame frame;
  frame.bytes.assign(data, data + sample->GetActualDataLength());
  hr = sample->GetTime(&frame.start, &frame.end);
  if (FAILED(hr)) {
    return hr;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  ++holding_;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !hold_ || released_; });
  --holding_;
  if (released_ && hold_) {
    return S_FALSE;
  }
  starts_.push_back(frame.start);
  last_ = std::move(frame);
  ++count_;
  changed_.notify_all();
  return S_OK;
}

LONG FrameSink::Count() {
  std::lock_guard<std::mutex> hold(mutex_);
  return count_;
}

FrameSink::Frame FrameSink::Last() {
  std::lock_guard<std::mutex> hold(mutex_);
  return last_;
}

std::vector<REFERENCE_TIME> FrameSink::Starts() {
  std::lock_guard<std::mutex> hold(mutex_);
  return starts_;
}

bool FrameSink::WaitForCount(LONG count, DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return count_ >= count; });
}

FrameSink::Frame FrameSink::NextFrame(DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  const LONG seen = count_;
  if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [&] { return count_ > seen; })) {
    return {};
  }
  return last_;
}

void FrameSink::HoldSamples(bool hold) {
  std::lock_guard<std::mutex> lock(mutex_);
  hold_ = hold;
  changed_.notify_all();
}

bool FrameSink::WaitUntilHolding(DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return holding_ > 0; });
}

}  // namespace kvx::test
