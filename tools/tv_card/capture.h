// The card's video capture device: an "Analog Video In" pin for the crossbar's video decoder
// output, and two output pins, "Capture" and "Preview", each with its pin category (IKsPropertySet
// on the pin) and IAMStreamConfig offering YUY2, UYVY and RGB24 at six frame sizes. The filter
// answers IAMAnalogVideoDecoder (the card's standard), which its property page shows.
//
// The format offer and the pins' IAMStreamConfig are in capture_format.cpp, the streaming thread
// and its faults in capture_stream.cpp, the filter's state changes and its decoder in capture.cpp.
//
// Streaming: Run starts one streaming thread, which draws and delivers a frame to every
// connected output pin at the standard's rate, showing what the card's state says the decoder
// sees (tools/tv_card/card.h). Pause only stops delivery; Stop signals the thread, decommits the
// allocators and joins it. The thread never takes the filter lock and never waits on a buffer
// (a frame without a free one is dropped), so it can be joined as soon as the downstream
// filter's Receive returns, which a downstream filter's own Stop ensures; the graph stops
// downstream filters first.
//
// Threads: the graph's control threads call everything under the filter lock; the streaming
// thread touches only what it was handed at Run, the atomics below, the card's state (under its
// lock) and the graph's event sink.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/tv_card/card_filter.h"
#include "tools/tv_card/picture.h"
#include "tools/tv_card/pins.h"
#include "video/com_ptr.h"
#include "video/media_type.h"

namespace tvcard {

class CaptureFilter;

// Forgets every card's comings and goings (lost-return, slow-return, error-abort); at
// registration, so each test starts with a card that is there.
void ResetCardFaults();

// The last media type a pin received in SetFormat, copied into caller-owned fields, and
// forgotten; S_FALSE when none came since the last call. Any thread.
HRESULT LastSetFormat(AM_MEDIA_TYPE* type);

class CapturePin;

// Where a connected output pin's frames go and how they look.
struct Outlet {
  CapturePin* pin;  // raw: the filter owns its pins and outlives its streaming thread
  kvx::ComPtr<IMemAllocator> allocator;
  kvx::ComPtr<IMemInputPin> receiver;
  kvx::ComPtr<IPin> peer;
  FrameLayout layout;
  // A format change the peer accepted, attached to the next sample; empty otherwise.
  kvx::MediaTypeValue announce;
};

class CapturePin final : public CardPin, public IKsPropertySet, public IAMStreamConfig {
 public:
  CapturePin(CaptureFilter* filter, kvx::CriticalSection* lock, const wchar_t* name,
             const GUID& category);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // The "Preview" pin refuses here under the preview-refuses fault.
  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;

  // IKsPropertySet: AMPROPSETID_Pin's category, read-only.
  STDMETHODIMP Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceBytes, LPVOID data,
                   DWORD dataBytes) override;
  STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceBytes, LPVOID data,
                   DWORD dataBytes, DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  // IAMStreamConfig. SetFormat reads the subtype and the frame size alone and describes the
  // rest itself; on a connected pin it reconnects through the graph.
  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** type) override;
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

  // The set format alone once SetFormat succeeded; before, the current format and then every
  // capability.
  HRESULT GetMediaType(int position, kvx::MediaTypeValue* type) override;
  // Commit and decommit the allocator.
  HRESULT OnActivate() override;
  HRESULT OnDeactivate() override;

  // Under the filter lock, for a connected pin.
  Outlet MakeOutlet();
  // The streaming thread's format change: the layout the pin streams from now on, until it
  // connects anew.
  void StreamLayout(const FrameLayout& layout);

 protected:
  HRESULT AcceptMediaType(const AM_MEDIA_TYPE& type) override;
  HRESULT OnConnectionComplete(IPin* peer) override;
  HRESULT OnConnectionBroken() override;
  HRESULT LookupInterface(REFIID iid, void** out) override;

 private:
  REFERENCE_TIME Interval();
  bool Usb();
  // The format the pin streams in until one is set. Under the filter lock.
  FrameLayout Current();

  // Raw: the filter owns the pin.
  CaptureFilter* owner_;
  const GUID category_;
  // Guarded by the filter lock.
  FrameLayout format_ = {PixelFormat::kYuy2, 320, 240};
  bool formatSet_ = false;
  kvx::ComPtr<IMemInputPin> receiver_;
  kvx::ComPtr<IMemAllocator> allocator_;
  // A format change made while streaming on this connection. Guarded by changeLock_, which the
  // streaming thread and the control threads (under the filter lock) take last.
  std::mutex changeLock_;
  bool changed_ = false;
  FrameLayout changedLayout_ = {PixelFormat::kYuy2, 320, 240};
};

class CaptureFilter final : public CardFilter, public IAMAnalogVideoDecoder {
 public:
  CaptureFilter();
  ~CaptureFilter() override;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Stop() override;
  // kDeviceGone for a lost filter, and for any while its card is away.
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  // Leaving the graph cancels a device return that has not come yet.
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  // VFW_S_CANT_CUE while paused: a live source delivers nothing then.
  STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;

  // IAMAnalogVideoDecoder
  STDMETHODIMP get_AvailableTVFormats(LONG* standards) override;
  STDMETHODIMP put_TVFormat(LONG standard) override;
  STDMETHODIMP get_TVFormat(LONG* standard) override;
  STDMETHODIMP get_HorizontalLocked(LONG* locked) override;
  STDMETHODIMP put_VCRHorizontalLocking(LONG locking) override;
  STDMETHODIMP get_VCRHorizontalLocking(LONG* locking) override;
  STDMETHODIMP get_NumberOfLines(LONG* lines) override;
  STDMETHODIMP put_OutputEnable(LONG enable) override;
  STDMETHODIMP get_OutputEnable(LONG* enable) override;

  // The USB grabber's filter has its "Capture" pin alone.
  int PinCount() override { return Usb() ? 1 : hasPreview_ ? 3 : 2; }
  kvx::PinBase* PinAt(int index) override;
  // Whether the device bound is the USB grabber (uvc), not one of the TV cards.
  bool Usb() { return Card()->Number() == kUsbCard; }

 protected:
  HRESULT LookupInterface(REFIID iid, void** out) override;

 private:
  // Whether the card's device is away after it was lost (lost-return). Any thread.
  static bool Away(int card);
  // Whether the card's device is back from slow-return and this Run is its first; once.
  static bool TakeFailedRun(int card);
  void StartStreaming();
  void EndStreaming();
  struct StreamFaults {
    bool lose;
    bool comeBack;
    bool stall;
    bool abort;
    bool changeFormat;
  };
  void Stream(std::vector<Outlet> outlets, std::shared_ptr<CardState> card, StreamFaults faults);
  // The streaming thread, once the device went away: in kReturnAfterMs it is back.
  void StartReturn();
  void CancelReturn();
  // Asks the outlet's peer for the other frame size; on S_OK the next sample announces it.
  void ChangeFormat(Outlet& outlet, REFERENCE_TIME interval);
  void Deliver(Outlet& outlet, const Scene& scene, uint32_t number, REFERENCE_TIME start,
               REFERENCE_TIME interval, std::vector<uint32_t>& canvas);
  void LetGoOfCard();

  const bool hasPreview_;
  AnalogPin videoIn_;
  CapturePin capture_;
  CapturePin preview_;

  // Guarded by the filter lock.
  std::thread thread_;
  LONG vcrLocking_ = 0;
  LONG outputEnable_ = OATRUE;
  // Manual reset; set by Stop to end the streaming thread.
  HANDLE stop_;
  // Set by Run, cleared by Pause and Stop; read by the streaming thread.
  std::atomic<bool> delivering_{false};
  // Set by the streaming thread when the device goes away; for good.
  std::atomic<bool> lost_{false};
  // The thread that brings the device back, started by the streaming thread; guarded by
  // returnLock_, which the streaming thread and the control threads take last.
  std::mutex returnLock_;
  std::thread returner_;
  // Manual reset; set when the filter leaves its graph or goes.
  HANDLE cancelReturn_;
};

}  // namespace tvcard
