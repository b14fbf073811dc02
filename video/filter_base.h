// The base of our DirectShow filters: IBaseFilter (with IMediaFilter and IPersist) and
// IAMovieSetup over ComObjectBase, plus the pin enumerator.
//
// Threads: the graph calls the control methods (Stop, Pause, Run, connections, interface
// lookup) on its application threads; each takes the filter lock that the derived filter passes
// in, which is also its pins' lock. GetState takes no lock and never waits, so a streaming
// thread may call it. NotifyEvent may be called on any thread.
//
// Lifetime: the graph holds the filter with a reference; the filter holds the graph and its
// event sink without one (the graph references us, so we cannot also reference the graph). They
// are valid between JoinFilterGraph(graph) and JoinFilterGraph(null). Pins live as long as the
// filter; a pin's reference is a reference to its filter.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <string>
#include <vector>

#include "video/com_object.h"
#include "video/com_ptr.h"
#include "video/critical_section.h"

namespace kvx {

class PinBase;

class FilterBase : public ComObjectBase, public IBaseFilter, public IAMovieSetup {
 public:
  // name may be null. lock is the derived filter's; it must outlive the filter base.
  FilterBase(const wchar_t* name, IUnknown* outer, CriticalSection* lock, const CLSID& clsid);
  ~FilterBase() override;

  // IUnknown, routed to the controlling object.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override;

  // IMediaFilter
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;

  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** pins) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

  // IAMovieSetup: nothing to register.
  STDMETHODIMP Register() override;
  STDMETHODIMP Unregister() override;

  // The pins, fixed for the filter's life unless the derived filter bumps the pin version.
  virtual int PinCount() = 0;
  virtual PinBase* PinAt(int index) = 0;

  FILTER_STATE State() const { return state_.load(); }
  CriticalSection& FilterLock() { return *lock_; }
  LONG PinVersion() const { return pinVersion_.load(); }
  // Forwards an event to the graph's event sink; E_NOTIMPL outside a graph. For EC_COMPLETE
  // the second parameter should be this filter's IBaseFilter.
  HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

 protected:
  HRESULT LookupInterface(REFIID iid, void** out) override;
  // For a derived filter whose pins change while it lives; open enumerators then refresh.
  void BumpPinVersion() { pinVersion_.fetch_add(1); }
  // For a derived filter that changes state without the base's steps; under the filter lock.
  void SetState(FILTER_STATE state) { state_ = state; }

 private:
  CriticalSection* lock_;
  // Written under the filter lock; read without it by GetState and the streaming checks.
  std::atomic<FILTER_STATE> state_{State_Stopped};
  // The rest is guarded by the filter lock.
  ComPtr<IReferenceClock> clock_;
  REFERENCE_TIME start_ = 0;
  CLSID clsid_;
  std::wstring name_;
  IFilterGraph* graph_ = nullptr;
  // Also read by NotifyEvent on the streaming thread, hence atomic.
  std::atomic<IMediaEventSink*> sink_{nullptr};
  std::atomic<LONG> pinVersion_{1};
};

// Enumerates a filter's pins, each at most once; refreshes itself when the filter's pin version
// changes. Used on whichever thread holds it.
class PinEnumerator final : public ComObjectBase, public IEnumPins {
 public:
  explicit PinEnumerator(FilterBase* filter);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumPins** clone) override;

 protected:
  HRESULT LookupInterface(REFIID iid, void** out) override;

 private:
  bool OutOfSync() const { return version_ != filter_->PinVersion(); }
  void Refresh();

  ComPtr<FilterBase> filter_;
  int position_ = 0;
  int count_ = 0;
  LONG version_ = 0;
  // Pins already handed out, compared by identity only; a fixed record, as the graph enumerates
  // pins inside Run and Stop, where nothing may fail for want of memory.
  static constexpr int kMostPins = 32;
  IPin* returned_[kMostPins] = {};
  int returnedCount_ = 0;
};

}  // namespace kvx
