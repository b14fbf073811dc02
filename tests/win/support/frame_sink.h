// A video sink for tests, built on the filter framework: one input pin, "In", taking YUY2,
// UYVY or RGB24 with a VIDEOINFOHEADER block. It counts the samples it receives and keeps a copy
// of the newest one with its time stamps. Told to, it holds every sample in Receive until it is
// stopped or flushed, as a renderer waiting for its clock does.
//
// Threads: control calls on the test thread, under the filter lock. Receive comes on the
// upstream filter's streaming thread and takes only the sink's own mutex; so do the readers.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "video/com_ptr.h"
#include "video/filter_base.h"
#include "video/media_type.h"
#include "video/pin_base.h"

namespace kvx::test {

class FrameSink;

class FrameSinkPin final : public InputPinBase {
 public:
  FrameSinkPin(FrameSink* sink, CriticalSection* lock);

  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP ReceiveCanBlock() override;
  STDMETHODIMP BeginFlush() override;

  MediaTypeValue Type();

 protected:
  HRESULT AcceptMediaType(const AM_MEDIA_TYPE& type) override;

 private:
  // Raw: the sink owns the pin.
  FrameSink* sink_;
};

class FrameSink final : public FilterBase {
 public:
  struct Frame {
    std::vector<uint8_t> bytes;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
  };

  // Adds the first reference.
  static ComPtr<FrameSink> Create();

  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;

  int PinCount() override { return 1; }
  PinBase* PinAt(int index) override { return index == 0 ? &pin_ : nullptr; }
  IPin* InputPin() { return &pin_; }
  // The connection's media type; empty when unconnected.
  MediaTypeValue Type() { return pin_.Type(); }

  LONG Count();
  Frame Last();
  std::vector<REFERENCE_TIME> Starts();
  // Waits up to timeoutMs until at least `count` samples have arrived in all.
  bool WaitForCount(LONG count, DWORD timeoutMs);
  // The frame that arrives after the ones seen so far; empty after timeoutMs.
  Frame NextFrame(DWORD timeoutMs);

  void HoldSamples(bool hold);
  // Waits up to timeoutMs until a sample is being held in Receive.
  bool WaitUntilHolding(DWORD timeoutMs);

 private:
  friend class FrameSinkPin;
  FrameSink();
  HRESULT Take(IMediaSample* sample);
  void ReleaseHeld();

  // The filter and pin lock; taken by the test thread's control calls.
  CriticalSection lock_;
  FrameSinkPin pin_;

  // Guards everything below; taken by the streaming thread and the test thread.
  std::mutex mutex_;
  std::condition_variable changed_;
  LONG count_ = 0;
  Frame last_;
  std::vector<REFERENCE_TIME> starts_;
  bool hold_ = false;
  bool released_ = false;
  int holding_ = 0;
};

}  // namespace kvx::test
