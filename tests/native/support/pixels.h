// Test frames for the compositor: seeded random pictures, and exact-size copies of them that end
// where the memory the program may touch ends, so that a read or write one byte past the end
// faults: natively under AddressSanitizer, in a Windows build against a page it may not touch.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "compose/geometry.h"

namespace kvx::testing {

inline size_t FrameBytes(int32_t layout, int32_t width, int32_t height) {
  return static_cast<size_t>(BytesPerPixel(layout)) * width * height;
}

inline std::vector<uint8_t> RandomFrame(std::mt19937& rng, size_t bytes) {
  std::vector<uint8_t> v(bytes);
  for (auto& b : v) {
    b = static_cast<uint8_t>(rng());
  }
  return v;
}

// A copy of some bytes whose last byte is the last one the program may touch.
class ExactBuffer {
 public:
  explicit ExactBuffer(const std::vector<uint8_t>& bytes) : size_(bytes.size()) {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t pages = (size_ + page - 1) / page;
    base_ = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD was;
    if (base_ == nullptr || !VirtualProtect(base_ + pages * page, page, PAGE_NOACCESS, &was)) {
      std::abort();
    }
    data_ = base_ + pages * page - size_;
#else
    owned_.resize(size_);
    data_ = owned_.data();
#endif
    if (size_ != 0) {
      std::memcpy(data_, bytes.data(), size_);
    }
  }
  ~ExactBuffer() {
#ifdef _WIN32
    VirtualFree(base_, 0, MEM_RELEASE);
#endif
  }
  ExactBuffer(const ExactBuffer&) = delete;
  ExactBuffer& operator=(const ExactBuffer&) = delete;

  uint8_t* data() {
    return data_;
  }
  std::vector<uint8_t> bytes() const {
    return std::vector<uint8_t>(data_, data_ + size_);
  }

 private:
  size_t size_;
  uint8_t* data_ = nullptr;
#ifdef _WIN32
  uint8_t* base_ = nullptr;
#else
  std::vector<uint8_t> owned_;
#endif
};

}  // namespace kvx::testing
