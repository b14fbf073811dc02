// Holds one reference to a COM object and releases it exactly once. The pointer is set to null
// before Release runs, so a re-entrant call during the release never sees a dangling pointer.
#pragma once

#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace kvx {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Adds a reference of its own.
  explicit ComPtr(T* p) : p_(p) {
    if (p_ != nullptr) {
      p_->AddRef();
    }
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }
  ~ComPtr() { reset(); }

  void reset() {
    if (T* p = std::exchange(p_, nullptr)) {
      p->Release();
    }
  }
  // Takes over a reference the caller already owns.
  void attach(T* p) {
    reset();
    p_ = p;
  }
  [[nodiscard]] T* detach() { return std::exchange(p_, nullptr); }
  // For out-parameters: releases what is held and hands out the slot.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (p_ == nullptr) {
      out->reset();
      return E_POINTER;
    }
    return p_->QueryInterface(__uuidof(U), out->put_void());
  }

 private:
  T* p_ = nullptr;
};

}  // namespace kvx
