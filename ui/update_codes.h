// The wParam codes of WM_PIP_UPDATE (plugin/host_records.h), posted to the settings dialog and
// its device page; each names what is to be shown afresh from the settings.
#pragma once

#include <windows.h>

namespace kvx {

inline constexpr WPARAM kUpdateAll = 0;
inline constexpr WPARAM kUpdateTab = 1;
inline constexpr WPARAM kUpdateStatusLine = 2;
// Codes from here on are the device page's; the settings dialog passes them on.
inline constexpr WPARAM kUpdateDevices = 3;
inline constexpr WPARAM kUpdateFormats = 4;
inline constexpr WPARAM kUpdatePosX = 5;  // also posted by the mouse hook after a drag
inline constexpr WPARAM kUpdatePosY = 6;
inline constexpr WPARAM kUpdateWndSize = 7;
inline constexpr WPARAM kUpdateImgSize = 8;
inline constexpr WPARAM kUpdateOpacity = 9;
inline constexpr WPARAM kUpdateBorder = 10;
inline constexpr WPARAM kUpdateStandard = 11;
inline constexpr WPARAM kUpdatePipEnable = 12;

}  // namespace kvx
