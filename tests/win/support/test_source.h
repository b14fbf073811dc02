// A small source filter for tests, built on the filter framework: one output pin, "Out", that
// offers the media types it is given and delivers samples to the pin it is connected to, either
// one at a time on the caller's thread or as fast as it can on a thread of its own.
//
// Threads: the graph's calls come on the test thread. DeliverSample and DeliverEndOfStream run
// on the caller's thread or the delivery thread; they take the filter lock only to read the
// connection, never while calling the peer. Samples come from a private allocator, so delivery
// works in every state, including stopped, and the peer's answers show what it refuses.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "video/com_ptr.h"
#include "video/filter_base.h"
#include "video/media_type.h"
#include "video/pin_base.h"

namespace kvx::test {

class TestSource;

class TestSourcePin final : public PinBase {
 public:
  TestSourcePin(TestSource* source, CriticalSection* lock);

  // Tries the given type alone when it is complete, else each offered type that matches it.
  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
  HRESULT GetMediaType(int position, MediaTypeValue* type) override;

  void SetOffered(std::vector<MediaTypeValue> offered);
  // The peer's IMemInputPin, with a reference; null when unconnected.
  ComPtr<IMemInputPin> Receiver();
  long SampleSize();

 protected:
  HRESULT AcceptMediaType(const AM_MEDIA_TYPE& type) override;
  HRESULT OnConnectionComplete(IPin* peer) override;
  HRESULT OnConnectionBroken() override;

 private:
  HRESULT TryConnect(IPin* receivePin, const AM_MEDIA_TYPE& type);

  // Guarded by the filter lock.
  std::vector<MediaTypeValue> offered_;
  ComPtr<IMemInputPin> receiver_;
  ComPtr<IMemAllocator> allocator_;
};

class TestSource final : public FilterBase {
 public:
  // Adds the first reference.
  static ComPtr<TestSource> Create(std::vector<MediaTypeValue> offered);
  ~TestSource() override;

  int PinCount() override { return 1; }
  PinBase* PinAt(int index) override { return index == 0 ? &pin_ : nullptr; }
  IPin* OutputPin() { return &pin_; }
  TestSourcePin& Pin() { return pin_; }
  // Tells open pin enumerators that the pins changed (they stay the same).
  void ChangePins() { BumpPinVersion(); }

  // One sample of the connection's sample size (or `length` bytes), every byte `fill`.
  // VFW_E_NOT_CONNECTED when unconnected; otherwise the peer's answer.
  HRESULT DeliverSample(uint8_t fill, long length = -1);
  HRESULT DeliverEndOfStream();

  // Delivers samples filled with 0, 1, 2, ... (mod 256) until stopped.
  void StartDelivering();
  void StopDelivering();

  // Answers of the peer to delivered samples.
  LONG Stored() const { return stored_.load(); }
  LONG Refused() const { return refused_.load(); }
  LONG Failed() const { return failed_.load(); }
  LONG Delivered() const { return Stored() + Refused() + Failed(); }

 private:
  explicit TestSource(std::vector<MediaTypeValue> offered);
  HRESULT EnsureSamples(long size);

  // The filter and pin lock.
  CriticalSection lock_;
  TestSourcePin pin_;

  // Guards the private allocator; taken by whichever thread delivers, never by the graph.
  std::mutex deliveryLock_;
  ComPtr<IMemAllocator> samples_;
  long sampleBufferSize_ = 0;

  std::atomic<LONG> stored_{0};
  std::atomic<LONG> refused_{0};
  std::atomic<LONG> failed_{0};
  std::atomic<bool> stopDelivering_{false};
  std::thread delivery_;
};

}  // namespace kvx::test
