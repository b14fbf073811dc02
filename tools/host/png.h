// PNG files through WIC. The calling thread must have initialised COM (the UI thread and the
// video thread both do).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace zhost {

// Pixels top row first, 0x00RRGGBB.
HRESULT savePng(const std::wstring& path, const uint32_t* pixels, int width, int height);
// Everything on the virtual screen, so the plug-in's own windows show up next to the host's.
HRESULT saveScreenPng(const std::wstring& path);

}  // namespace zhost
