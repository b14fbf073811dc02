// GUIDs the video path compares, usable by the portable code. On Windows Guid is the platform's
// GUID, so these constants can be handed to DirectShow directly.
#pragma once

#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <guiddef.h>
#endif

namespace kvx {

#ifdef _WIN32
using Guid = GUID;
#else
struct Guid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
#endif
static_assert(sizeof(Guid) == 16);

inline bool SameGuid(const Guid& a, const Guid& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The PiP Renderer's own identifiers.
inline constexpr Guid kIidPipBuffer = {
    0xFDC78163, 0x662F, 0x4903, {0xB9, 0x7D, 0xD2, 0xD3, 0x20, 0xF1, 0xA4, 0x69}};
inline constexpr Guid kClsidPipRenderer = {
    0x272866D0, 0xB37C, 0x4891, {0xB8, 0xF8, 0xA4, 0xA7, 0x04, 0x69, 0x07, 0x21}};

// DirectShow media types the renderer reads.
inline constexpr Guid kMediaTypeVideo = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr Guid kSubtypeYuy2 = {
    0x32595559, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr Guid kSubtypeUyvy = {
    0x59565955, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr Guid kSubtypeRgb24 = {
    0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr Guid kFormatVideoInfo = {
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr Guid kFormatVideoInfo2 = {
    0xF72A76A0, 0xEB0A, 0x11D0, {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};

// The parts of an AM_MEDIA_TYPE the frame buffer reads. The format block is borrowed.
struct MediaTypeView {
  Guid majortype;
  Guid subtype;
  Guid formattype;
  uint32_t formatSize;
  const uint8_t* format;
};

}  // namespace kvx
