#include "video/pip_renderer.h"

#include <new>

#include "video/frame_guard.h"
#include "video/media_type.h"

namespace kvx {

PipRendererInputPin::PipRendererInputPin(PipRenderer* renderer, CriticalSection* filterLock)
    : InputPinBase(renderer, filterLock, L"Video In"), renderer_(renderer) {}

HRESULT PipRendererInputPin::AcceptMediaType(const AM_MEDIA_TYPE& type) {
  if (!SameGuid(type.majortype, kMediaTypeVideo)) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  if (!SameGuid(type.formattype, kFormatVideoInfo) &&
      !SameGuid(type.formattype, kFormatVideoInfo2)) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  // The subtypes the store holds (4:2:2, RGB24, and 4:2:0 planes it turns into 4:2:2), with a
  // format block it can read (long enough, a frame neither empty nor absurd, even 4:2:2 widths,
  // even 4:2:0 sides), are taken; the rest are refused before the connection is made.
  if (!PipFrameBuffer::CanHold(ViewOf(type))) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT PipRendererInputPin::ApplyMediaType(const AM_MEDIA_TYPE& type) {
  const HRESULT hr = InputPinBase::ApplyMediaType(type);
  if (FAILED(hr)) {
    return hr;
  }
  return renderer_->frame_.SetFrameFormat(ViewOf(type));
}

HRESULT PipRendererInputPin::OnConnectionComplete(IPin* peer) {
  {
    ScopedLock receive(renderer_->frame_.ReceiveLock());
    announced_.Clear();
  }
  const HRESULT hr = InputPinBase::OnConnectionComplete(peer);
  if (FAILED(hr)) {
    return hr;
  }
  return renderer_->frame_.AllocateFrame();
}

HRESULT PipRendererInputPin::OnConnectionBroken() {
  const HRESULT hr = InputPinBase::OnConnectionBroken();
  if (FAILED(hr)) {
    return hr;
  }
  return renderer_->frame_.FreeFrame();
}

HRESULT PipRendererInputPin::Receive(IMediaSample* sample) {
  // A driver that changes its frame size while running (a new video standard, its own property
  // page) asks QueryAccept, then attaches the new type to the next sample.
  AM_MEDIA_TYPE* type = nullptr;
  if (sample == nullptr || sample->GetMediaType(&type) != S_OK || type == nullptr) {
    return renderer_->frame_.StoreSample(sample);
  }
  const MediaTypeView view = ViewOf(*type);
  const MediaTypeView refused{};  // no major type: the store refuses it
  const bool accepted = AcceptMediaType(*type) == S_OK;
  const bool wasRefusing = renderer_->frame_.Refusing();
  const HRESULT hr = renderer_->frame_.StoreSample(sample, accepted ? &view : &refused);
  if (SUCCEEDED(hr) && accepted) {
    // The connection carries this type from now on: the graph reads it back from the pin.
    ScopedLock receive(renderer_->frame_.ReceiveLock());
    announced_.Assign(*type);
  }
  if (renderer_->frame_.Refusing() != wasRefusing) {
    renderer_->NotifyEvent(kEcPipSamplesRefused, wasRefusing ? 0 : 1, 0);
  }
  DeleteTaskMediaType(type);
  return hr;
}

HRESULT PipRendererInputPin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  ScopedLock lock(pinLock());
  {
    ScopedLock receive(renderer_->frame_.ReceiveLock());
    if (type != nullptr && IsConnected() && announced_.get().pbFormat != nullptr) {
      return announced_.CopyTo(type);
    }
  }
  return InputPinBase::ConnectionMediaType(type);
}

HRESULT PipRendererInputPin::ReceiveCanBlock() {
  return S_FALSE;
}

HRESULT PipRendererInputPin::QueryInternalConnections(IPin**, ULONG*) {
  return E_NOTIMPL;
}

HRESULT PipRendererInputPin::EndOfStream() {
  ScopedLock lock(renderer_->frame_.ReceiveLock());
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) {
    return hr;
  }
  if (!eosReceived_) {
    eosReceived_ = true;
    FILTER_STATE state;
    if (renderer_->GetState(0, &state) == S_OK && state == State_Running) {
      SignalCompletion();
    }
  }
  return S_OK;
}

HRESULT PipRendererInputPin::EndFlush() {
  ScopedLock lock(pinLock());
  {
    ScopedLock receive(renderer_->frame_.ReceiveLock());
    eosReceived_ = false;
    completionSent_ = false;
  }
  return InputPinBase::EndFlush();
}

HRESULT PipRendererInputPin::OnActivate() {
  ScopedLock receive(renderer_->frame_.ReceiveLock());
  eosReceived_ = false;
  completionSent_ = false;
  return S_OK;
}

HRESULT PipRendererInputPin::OnRun(REFERENCE_TIME) {
  ScopedLock receive(renderer_->frame_.ReceiveLock());
  completionSent_ = false;
  if (eosReceived_) {
    SignalCompletion();
  }
  return S_OK;
}

void PipRendererInputPin::SignalPendingCompletion() {
  if (eosReceived_) {
    SignalCompletion();
  }
}

void PipRendererInputPin::SignalCompletion() {
  if (completionSent_) {
    return;
  }
  completionSent_ = true;
  renderer_->NotifyEvent(EC_COMPLETE, S_OK,
                         reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(renderer_)));
}

PipRenderer::PipRenderer(IUnknown* outer, HRESULT* hr)
    : FilterBase(nullptr, outer, &filterLock_, CLSID_PipRenderer) {
  pin_.reset(new (std::nothrow) PipRendererInputPin(this, &filterLock_));
  if (pin_ == nullptr) {
    *hr = E_OUTOFMEMORY;
    return;
  }
  pinCount_ = 1;
  *hr = S_OK;
}

PipRenderer::~PipRenderer() {
  // A frame step that found this renderer may still be inside GetFrame.
  WaitForFrameReaders();
}

HRESULT PipRenderer::QueryInterface(REFIID iid, void** out) {
  return FilterBase::QueryInterface(iid, out);
}

ULONG PipRenderer::AddRef() {
  return FilterBase::AddRef();
}

ULONG PipRenderer::Release() {
  return FilterBase::Release();
}

HRESULT PipRenderer::LookupInterface(REFIID iid, void** out) {
  ScopedLock lock(filterLock_);
  if (iid == IID_IPiPBuffer) {
    return HandOut(static_cast<IPiPBuffer*>(this), out);
  }
  return FilterBase::LookupInterface(iid, out);
}

int PipRenderer::PinCount() {
  return pinCount_;
}

PinBase* PipRenderer::PinAt(int index) {
  return index >= 0 && index < pinCount_ ? pin_.get() : nullptr;
}

void PipRenderer::StopStreaming() {
  frame_.StopStreaming();
}

HRESULT PipRenderer::Stop() {
  ScopedLock lock(filterLock_);
  if (State() != State_Stopped) {
    // Stopping cannot be refused; a pin that reports trouble on the way is stopped all the same.
    FilterBase::Stop();
    StopStreaming();
  }
  return S_OK;
}

HRESULT PipRenderer::Pause() {
  ScopedLock lock(filterLock_);
  if (State() != State_Paused) {
    const HRESULT hr = FilterBase::Pause();
    if (FAILED(hr)) {
      return hr;
    }
    StopStreaming();
  }
  return S_OK;
}

HRESULT PipRenderer::Run(REFERENCE_TIME start) {
  ScopedLock lock(filterLock_);
  if (State() == State_Running) {
    return S_OK;
  }
  if (pin_->IsConnected()) {
    const HRESULT hr = FilterBase::Run(start);
    if (FAILED(hr)) {
      return hr;
    }
    ScopedLock receive(frame_.ReceiveLock());
    frame_.StartStreaming();
    // End of stream that arrived after OnRun but before the state became running saw no
    // running filter and signalled nothing.
    pin_->SignalPendingCompletion();
  } else {
    // Nothing will ever arrive: complete at once so the graph reaches the running state.
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    SetState(State_Running);
  }
  return S_OK;
}

HRESULT PipRenderer::GetFrame(BYTE** pixels, int32_t* width, int32_t* height, int32_t* format) {
  return frame_.GetFrame(pixels, width, height, format);
}

HRESULT PipRenderer::GetFrameView(PipFrameView* view) {
  return frame_.GetFrameView(view);
}

}  // namespace kvx
