// The reference-counted, aggregatable base of our COM objects (filters, enumerators).
//
// A derived class answers its interfaces in LookupInterface and routes the IUnknown methods of
// each interface it implements to Outer(): the object itself when it stands alone, the
// aggregating object otherwise. The count is changed with interlocked operations, so any thread
// may add or release references; the object deletes itself when the count reaches zero.
//
// Every object of ours (these and the pins) adds itself to a module-wide live-object count while
// it exists, so tests can prove that a released graph left nothing behind.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace kvx {

// Counts itself as a live object from construction to destruction.
class LiveObject {
 public:
  LiveObject();
  LiveObject(const LiveObject&);
  ~LiveObject();
  LiveObject& operator=(const LiveObject&) = default;

  static LONG Count();
};

class ComObjectBase : private LiveObject {
 public:
  // outer: the aggregating object's IUnknown, or null.
  explicit ComObjectBase(IUnknown* outer);
  virtual ~ComObjectBase();
  ComObjectBase(const ComObjectBase&) = delete;
  ComObjectBase& operator=(const ComObjectBase&) = delete;

  // The controlling IUnknown; the IUnknown methods of every interface go here.
  IUnknown* Outer() const { return outer_; }
  // The non-delegating IUnknown, which an aggregating object holds.
  IUnknown* NonDelegatingUnknown() { return &inner_; }

 protected:
  // Answers an interface with a reference added, or E_NOINTERFACE. The base answers IUnknown
  // with the non-delegating IUnknown.
  virtual HRESULT LookupInterface(REFIID iid, void** out);

  // Adds a reference to the interface pointer and hands it out.
  template <class I>
  static HRESULT HandOut(I* object, void** out) {
    object->AddRef();
    *out = object;
    return S_OK;
  }

 private:
  class Inner final : public IUnknown {
   public:
    explicit Inner(ComObjectBase* self) : self_(self) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

   private:
    ComObjectBase* self_;
  };

  Inner inner_;
  std::atomic<ULONG> references_{0};
  IUnknown* outer_;
};

}  // namespace kvx
