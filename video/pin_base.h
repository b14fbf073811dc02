// The base of our pins: IPin and IQualityControl (PinBase), IMemInputPin on top for input pins
// (InputPinBase), and the media-type enumerator.
//
// Threads: connection methods, state steps (OnActivate, OnRun, OnDeactivate, called by the
// filter) and the allocator calls run on the graph's application threads under the filter's
// lock. Receive, ReceiveMultiple, EndOfStream and NewSegment come on the upstream filter's
// streaming thread and must not take the filter lock; QueryAccept may come on it too, so
// AcceptMediaType must not depend on state guarded by that lock.
//
// Lifetime: a pin's AddRef and Release are its filter's, and the filter deletes its pins when
// it is destroyed, so a pin is valid for as long as anyone holds a reference to it. The
// connected peer is held with a reference from connection to disconnection.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <string>

#include "video/com_object.h"
#include "video/com_ptr.h"
#include "video/critical_section.h"
#include "video/media_type.h"

namespace kvx {

class FilterBase;

class PinBase : public IPin, public IQualityControl, private LiveObject {
 public:
  PinBase(FilterBase* filter, CriticalSection* lock, const wchar_t* name, PIN_DIRECTION direction);
  virtual ~PinBase();
  PinBase(const PinBase&) = delete;
  PinBase& operator=(const PinBase&) = delete;

  // IUnknown: the interfaces are the pin's, the reference count is the filter's.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPin. Connect is for output pins; the base answers E_UNEXPECTED.
  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
  // Data-flow calls belong to input pins; the base answers E_UNEXPECTED.
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IQualityControl
  STDMETHODIMP Notify(IBaseFilter* sender, Quality quality) override;
  STDMETHODIMP SetSink(IQualityControl* sink) override;

  // State steps, called by the filter under its lock for a connected pin.
  virtual HRESULT OnActivate();
  virtual HRESULT OnRun(REFERENCE_TIME start);
  virtual HRESULT OnDeactivate();

  bool IsConnected() const { return peer_.get() != nullptr; }
  const std::wstring& Name() const { return name_; }
  PIN_DIRECTION Direction() const { return direction_; }
  // The pin's proposals for a connection, position 0 first; a failure or S_FALSE ends the
  // list. The base proposes nothing (E_UNEXPECTED). Called on the thread enumerating types.
  virtual HRESULT GetMediaType(int position, MediaTypeValue* type);
  // Bumped when the proposals change; open enumerators then report they are out of sync.
  LONG MediaTypeVersion() const { return mediaTypeVersion_.load(); }

 protected:
  // Connection steps, called under the lock. S_OK accepts; anything else refuses.
  virtual HRESULT AcceptMediaType(const AM_MEDIA_TYPE& type) = 0;
  // Keeps the connection's media type.
  virtual HRESULT ApplyMediaType(const AM_MEDIA_TYPE& type);
  virtual HRESULT OnConnectionComplete(IPin* peer);
  virtual HRESULT OnConnectionBroken();
  virtual HRESULT LookupInterface(REFIID iid, void** out);

  // Holds the peer, applies the type and completes the connection; on any failure releases the
  // peer and runs OnConnectionBroken. Called under the lock by ReceiveConnection and by an
  // output pin's Connect once its peer has agreed.
  HRESULT CompleteConnection(IPin* peer, const AM_MEDIA_TYPE& type);

  FilterBase* filter() const { return filter_; }
  CriticalSection& pinLock() const { return *lock_; }
  IPin* peer() const { return peer_.get(); }
  const MediaTypeValue& connectionType() const { return connectionType_; }
  void BumpMediaTypeVersion() { mediaTypeVersion_.fetch_add(1); }

  // Set by a derived pin when streaming fails; cleared by EndFlush and deactivation.
  std::atomic<bool> runtimeError_{false};

 private:
  // Raw: the filter owns the pin, and the pin's references keep the filter alive.
  FilterBase* filter_;
  // The filter's lock; guards the connection (peer, type) and the quality sink.
  CriticalSection* lock_;
  std::wstring name_;
  PIN_DIRECTION direction_;
  ComPtr<IPin> peer_;
  MediaTypeValue connectionType_;
  // Raw: the sink is upstream of us and outlives the connection that set it.
  IQualityControl* qualitySink_ = nullptr;
  std::atomic<LONG> mediaTypeVersion_{1};
  // Written by the streaming thread that delivers the segment; nothing reads them yet.
  REFERENCE_TIME segmentStart_ = 0;
  REFERENCE_TIME segmentStop_ = 0;
  double segmentRate_ = 1.0;
};

class InputPinBase : public PinBase, public IMemInputPin {
 public:
  InputPinBase(FilterBase* filter, CriticalSection* lock, const wchar_t* name);
  ~InputPinBase() override;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPin: flushing.
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  // IMemInputPin. Receive and ReceiveCanBlock are the derived pin's.
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
  STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* done) override;

  // Releases the flushing and run-time-error state and decommits the allocator.
  HRESULT OnDeactivate() override;

  // Whether samples and end of stream may flow now: VFW_E_WRONG_STATE while the filter is
  // stopped, S_FALSE while flushing, VFW_E_RUNTIME_ERROR after a run-time error, else S_OK.
  // Takes no lock.
  HRESULT CheckStreaming() const;

 protected:
  // Decommits and releases the allocator.
  HRESULT OnConnectionBroken() override;
  HRESULT LookupInterface(REFIID iid, void** out) override;

 private:
  // Guarded by the filter lock.
  ComPtr<IMemAllocator> allocator_;
  bool readOnly_ = false;
  // Written under the filter lock; read by CheckStreaming on the streaming thread.
  std::atomic<bool> flushing_{false};
};

// Enumerates a pin's proposed media types; used on whichever thread holds it.
class MediaTypeEnumerator final : public ComObjectBase, public IEnumMediaTypes {
 public:
  explicit MediaTypeEnumerator(PinBase* pin);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes** clone) override;

 protected:
  HRESULT LookupInterface(REFIID iid, void** out) override;

 private:
  bool OutOfSync() const { return version_ != pin_->MediaTypeVersion(); }

  ComPtr<PinBase> pin_;
  int position_ = 0;
  LONG version_ = 0;
};

}  // namespace kvx
