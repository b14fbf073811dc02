#include "settings/host_windows.h"

#include <windows.h>

#include <string>

#include "settings/settings_store.h"

namespace kvx {

void FindHostWindows() {
  SettingsStore& store = Settings();
  std::wstring mainTitle = L"Zorvinta";
  std::wstring frameTitle = L"Video window";
  if (!store.location.instanceId.empty()) {
    mainTitle += L".Inst" + store.location.instanceId;
    frameTitle += L".Inst" + store.location.instanceId;
  }
  HWND main = FindWindowW(L"TMain", mainTitle.c_str());
  HWND frame = FindWindowW(L"TVideoFrame", frameTitle.c_str());
  // Without a frame there is no child to look for: a null parent would search the top-level
  // windows instead.
  HWND video =
      frame != nullptr ? FindWindowExW(frame, nullptr, nullptr, L"ActiveMovie Window") : nullptr;
  store.MainWindow = main;
  store.VideoFrameWindow = frame;
  store.VideoWindow = video != nullptr ? video : frame;
  if (main != nullptr) {
    SendMessageW(main, kWmHostCommand, kHostCommandQuery, 0);
  }
}

}  // namespace kvx
