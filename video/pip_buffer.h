// IPiPBuffer: the PiP Renderer's own interface, through which the frame step reads the newest
// captured frame. Its IUnknown methods are the renderer's.
//
// GetFrame and GetFrameView are called on the host's frame thread without any lock; the pointer
// they return points into the renderer's live frame store, not into a copy. The renderer is the
// interface's only implementation and the plug-in its only user.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <evcode.h>

#include <cstdint>

#include "video/frame_buffer.h"
#include "video/media_guids.h"

MIDL_INTERFACE("FDC78163-662F-4903-B97D-D2D320F1A469")
IPiPBuffer : public IUnknown {
 public:
  // format: 0 = YUY2, 1 = UYVY, 2 = RGB24. width, height and format may be null.
  virtual HRESULT STDMETHODCALLTYPE GetFrame(BYTE * *pixels, int32_t * width, int32_t * height,
                                             int32_t * format) = 0;
  // The same frame with its row order, every field taken from one store, so a frame size that
  // changes while streaming is never read with the pixels of another.
  virtual HRESULT STDMETHODCALLTYPE GetFrameView(kvx::PipFrameView * view) = 0;
};
__CRT_UUID_DECL(IPiPBuffer, 0xFDC78163, 0x662F, 0x4903, 0xB9, 0x7D, 0xD2, 0xD3, 0x20, 0xF1, 0xA4,
                0x69)

// The event the PiP Renderer sends its graph when it starts refusing the samples of a type the
// frame store cannot hold (lParam1 1), and when it stores samples again (lParam1 0).
inline constexpr long kEcPipSamplesRefused = EC_USER + 0x4B58;

inline constexpr const IID& IID_IPiPBuffer = kvx::kIidPipBuffer;
inline constexpr const CLSID& CLSID_PipRenderer = kvx::kClsidPipRenderer;
