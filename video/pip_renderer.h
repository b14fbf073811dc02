// The "PiP Renderer": the last filter of the capture graph. Its one input pin, "Video In",
// takes uncompressed YUY2, UYVY or RGB24 video and copies every sample, the moment it arrives,
// into the frame buffer, which the frame step reads through IPiPBuffer.
//
// Threads and locks:
//   - The graph's control calls (Stop, Pause, Run, connections, interface lookup) come on the
//     host's or the user-interface thread and take the filter lock.
//   - Samples and end of stream come on the upstream filter's streaming thread and take only the
//     receive lock (the frame buffer's). The one nesting is filter lock, then receive lock, in
//     Run, Pause, Stop, pin activation and EndFlush, so the two threads cannot deadlock.
//   - GetFrame comes on the host's frame thread and takes no lock; see video/frame_buffer.h and
//     video/frame_guard.h for how long the pixels it hands out stay valid.
//
// Lifetime: created directly (never through COM) with no reference; the creator adds the first.
// IPiPBuffer shares the renderer's reference count. The pin lives as long as the renderer.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <memory>

#include "video/filter_base.h"
#include "video/frame_buffer.h"
#include "video/media_type.h"
#include "video/pin_base.h"
#include "video/pip_buffer.h"

namespace kvx {

class PipRenderer;

class PipRendererInputPin final : public InputPinBase {
 public:
  PipRendererInputPin(PipRenderer* renderer, CriticalSection* filterLock);

  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP EndFlush() override;
  // S_FALSE while the renderer is not running. A sample that carries a media type the pin
  // accepts changes the frame store's format first; one whose type it cannot take is refused,
  // and so are the samples after it until a type it can take comes. Waits for the short receive
  // lock, and at a format change for frame steps reading the old store.
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP ReceiveCanBlock() override;
  // The type of the frames now stored: the connection's, or the last a sample announced.
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override;

  HRESULT OnActivate() override;
  HRESULT OnRun(REFERENCE_TIME start) override;

  // Signals completion if end of stream came and none was signalled since. Under the receive
  // lock; the renderer calls it once its state is running.
  void SignalPendingCompletion();

 protected:
  HRESULT AcceptMediaType(const AM_MEDIA_TYPE& type) override;
  HRESULT ApplyMediaType(const AM_MEDIA_TYPE& type) override;
  HRESULT OnConnectionComplete(IPin* peer) override;
  HRESULT OnConnectionBroken() override;

 private:
  // Under the receive lock.
  void SignalCompletion();

  // Raw: the renderer owns the pin.
  PipRenderer* renderer_;
  // Guarded by the receive lock; taken by the streaming thread (end of stream) and by the
  // control thread (activation, run, end of flush).
  bool eosReceived_ = false;
  bool completionSent_ = false;
  // The last type a sample announced and the store took, since the connection was made; guarded
  // by the receive lock. Empty when none came.
  MediaTypeValue announced_;
};

class PipRenderer final : public FilterBase, public IPiPBuffer {
 public:
  // hr: S_OK, or E_OUTOFMEMORY when the pin could not be created; the object must then be
  // released by the creator all the same.
  PipRenderer(IUnknown* outer, HRESULT* hr);
  ~PipRenderer() override;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;

  // IPiPBuffer
  STDMETHODIMP GetFrame(BYTE** pixels, int32_t* width, int32_t* height, int32_t* format) override;
  STDMETHODIMP GetFrameView(PipFrameView* view) override;

  int PinCount() override;
  PinBase* PinAt(int index) override;

 protected:
  HRESULT LookupInterface(REFIID iid, void** out) override;

 private:
  friend class PipRendererInputPin;

  // Clears the streaming flag and waits for a copy in progress.
  void StopStreaming();

  // The filter lock: guards state changes, connections and interface lookup, for the renderer
  // and its pin. Taken by the control threads only.
  CriticalSection filterLock_;
  std::unique_ptr<PipRendererInputPin> pin_;
  int pinCount_ = 0;
  // The frame store with the receive lock and the streaming flag.
  PipFrameBuffer frame_;
};

}  // namespace kvx
