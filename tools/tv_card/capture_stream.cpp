#include "tools/tv_card/capture.h"

#include <chrono>

#include "tools/tv_card/capture_format.h"

namespace tvcard {
namespace {

// Until when each card is away after its device was lost (lost-return), as a tick count; 0 when
// it is there.
std::atomic<DWORD> g_awayUntil[kLastCard + 1] = {};
// The card is back from slow-return and its next Run fails once.
std::atomic<bool> g_failNextRun[kLastCard + 1] = {};
// The card's stream aborted once (error-abort); filters made after it stream on.
std::atomic<bool> g_aborted[kLastCard + 1] = {};

}  // namespace

void ResetCardFaults() {
  for (int card = 0; card <= kLastCard; ++card) {
    g_awayUntil[card] = 0;
    g_failNextRun[card] = false;
    g_aborted[card] = false;
  }
}

bool CaptureFilter::TakeFailedRun(int card) {
  return !Away(card) && g_failNextRun[card].exchange(false);
}

bool CaptureFilter::Away(int card) {
  const DWORD until = g_awayUntil[card].load();
  return until != 0 && static_cast<LONG>(until - GetTickCount()) > 0;
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

void CaptureFilter::StartStreaming() {
  std::vector<Outlet> outlets;
  for (CapturePin* pin : {&capture_, &preview_}) {
    if (pin->IsConnected()) {
      outlets.push_back(pin->MakeOutlet());
    }
  }
  ResetEvent(stop_);
  const bool comeBack = FaultOn(fault::kLostReturn) || FaultOn(fault::kSlowReturn);
  const StreamFaults faults{FaultOn(fault::kLost) || comeBack, comeBack, FaultOn(fault::kStall),
                            FaultOn(fault::kErrorAbort) && !g_aborted[Card()->Number()],
                            FaultOn(fault::kFormatChange)};
  thread_ = std::thread(&CaptureFilter::Stream, this, std::move(outlets), Card(), faults);
}

void CaptureFilter::EndStreaming() {
  if (thread_.joinable()) {
    SetEvent(stop_);
    thread_.join();
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
        // Back later; slow-return's device fails the first Run it gets then.
        g_failNextRun[card->Number()] = FaultOn(fault::kSlowReturn);
        g_awayUntil[card->Number()] = (GetTickCount() + kReturnAfterMs) | 1;
        StartReturn();
      }
      NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(Outer()), 0);
      continue;
    }
    if (faults.abort && number == kErrorAbortFrame) {
      // The stream breaks off with an error; this filter delivers nothing more.
      g_aborted[card->Number()] = true;
      lost_ = true;
      NotifyEvent(EC_ERRORABORT, kDeviceFailure, 0);
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

}  // namespace tvcard
