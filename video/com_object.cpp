#include "video/com_object.h"

namespace kvx {
namespace {

std::atomic<LONG> g_liveObjects{0};

}  // namespace

LiveObject::LiveObject() {
  g_liveObjects.fetch_add(1);
}

LiveObject::LiveObject(const LiveObject&) : LiveObject() {}

LiveObject::~LiveObject() {
  g_liveObjects.fetch_sub(1);
}

LONG LiveObject::Count() {
  return g_liveObjects.load();
}

ComObjectBase::ComObjectBase(IUnknown* outer)
    : inner_(this), outer_(outer != nullptr ? outer : &inner_) {}

ComObjectBase::~ComObjectBase() = default;

HRESULT ComObjectBase::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IUnknown) {
    return HandOut(static_cast<IUnknown*>(&inner_), out);
  }
  return E_NOINTERFACE;
}

HRESULT ComObjectBase::Inner::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) {
    return E_POINTER;
  }
  *out = nullptr;
  return self_->LookupInterface(iid, out);
}

ULONG ComObjectBase::Inner::AddRef() {
  return self_->references_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG ComObjectBase::Inner::Release() {
  const ULONG left = self_->references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) {
    // A destructor that hands out and releases a reference must not delete the object twice.
    self_->references_.store(1, std::memory_order_relaxed);
    delete self_;
  }
  return left;
}

}  // namespace kvx
