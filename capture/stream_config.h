// Sets the capture device's output pin to the saved pixel format and frame size, and lists the
// formats the pin offers in the FormatList (capture/stream_format.h).
//
// Threads: called by BuildGraph only, on the thread that builds the graph.
#pragma once

#include <windows.h>

namespace kvx {

// category: PIN_CATEGORY_PREVIEW or PIN_CATEGORY_CAPTURE, the pin about to be connected. Reads
// the capture graph's capture filter and builder; may overwrite StreamFormat. A failure means
// the pin cannot be used.
HRESULT ConfigureStream(const GUID& category);

}  // namespace kvx
