#include "tests/win/support/dialog_driver.h"

#include <vector>

#include "hotkeys/hotkey_table.h"
#include "plugin/plugin.h"
#include "settings/settings_store.h"
#include "tools/host/input_script.h"
#include "tools/host/png.h"
#include "ui/resource_ids.h"
#include "ui/settings_dialog.h"

namespace kvx::test {

void Pump(DWORD ms) {
  MSG msg;
  for (DWORD until = GetTickCount() + ms; GetTickCount() < until; Sleep(5)) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

void Shot(HWND window, const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"KVX_SHOTS", folder, MAX_PATH) == 0) {
    return;
  }
  RECT r{};
  GetWindowRect(window, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  zhost::savePng(std::wstring(folder) + L"\\" + name, pixels.data(), width, height);
}

int PixelsOf(HWND window, COLORREF colour) {
  RECT r{};
  GetWindowRect(window, &r);
  HDC screen = GetDC(nullptr);
  int red = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      red += GetPixel(screen, x, y) == colour ? 1 : 0;
    }
  }
  ReleaseDC(nullptr, screen);
  return red;
}

std::wstring Text(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

std::thread WhenShown(std::wstring caption, std::function<void(HWND)> act) {
  return std::thread([caption = std::move(caption), act = std::move(act)] {
    HWND window = nullptr;
    for (int i = 0; i < 250 && window == nullptr; ++i) {
      Sleep(20);
      window = FindWindowW(nullptr, caption.c_str());
    }
    Sleep(150);  // drawn
    act(window);
  });
}

HWND FindCaption(const wchar_t* part) {
  std::pair<const wchar_t*, HWND> search{part, nullptr};
  EnumWindows(
      [](HWND window, LPARAM param) WINAPI -> BOOL {
        auto* s = reinterpret_cast<std::pair<const wchar_t*, HWND>*>(param);
        if (IsWindowVisible(window) && Text(window).find(s->first) != std::wstring::npos) {
          s->second = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.second;
}

size_t HotkeyRowOf(uint32_t PipSettings::*field) {
  for (size_t row = 0; row < kHotkeyCount; ++row) {
    if (HotkeyRows()[row].field == field) {
      return row;
    }
  }
  return kHotkeyCount;
}

HostPicture::HostPicture(int32_t format, uint8_t fill, uint8_t chroma)
    : pixels_(320 * 240 * (format == kHostFormatRgb24 ? 3 : 2), fill) {
  if (format == kHostFormatYuy2) {
    for (size_t i = 1; i < pixels_.size(); i += 2) {
      pixels_[i] = chroma;
    }
  }
  HostChannelState state{};
  HostFrame frame{pixels_.data(), {}, &state};
  Descriptor()->frame(&frame);
}

COLORREF HostPicture::At(int x, int y) const {
  const uint8_t* p = &pixels_[((239 - y) * 320 + x) * 3];  // bottom row first, B G R
  return RGB(p[2], p[1], p[0]);
}

std::thread WhenOwnedShown(HWND owner, std::function<void(HWND)> act) {
  return std::thread([owner, act = std::move(act)] {
    HWND window = nullptr;
    for (int i = 0; i < 250 && window == nullptr; ++i) {
      Sleep(20);
      HWND active = GetForegroundWindow();
      if (active != nullptr && active != owner && GetWindow(active, GW_OWNER) == owner) {
        window = active;
      }
    }
    Sleep(150);  // drawn
    act(window);
  });
}

void SettingsDialogTest::SetUp() {
  PipCardTest::SetUp();
  const auto classOf = [](const wchar_t* name) {
    WNDCLASSW window = {};
    window.lpfnWndProc = DefWindowProcW;
    window.lpszClassName = name;
    window.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    RegisterClassW(&window);
  };
  classOf(L"TMain");
  classOf(L"TVideoFrame");
  classOf(L"VideoRenderer");
  host_ = CreateWindowW(L"TMain", L"Zorvinta", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 200, 640, 480,
                        nullptr, nullptr, nullptr, nullptr);
  videoFrame_ = CreateWindowW(L"TVideoFrame", L"Video window", WS_POPUP | WS_VISIBLE, 900, 600, 320,
                              240, host_, nullptr, nullptr, nullptr);
  video_ = CreateWindowW(L"VideoRenderer", L"ActiveMovie Window", WS_CHILD | WS_VISIBLE, 0, 0, 320,
                         240, videoFrame_, nullptr, nullptr, nullptr);
  Settings().SetDialogPos(-100, -100);
}

void SettingsDialogTest::TearDown() {
  Dialog().Destroy();
  Descriptor()->stop();
  DestroyWindow(host_);
  for (const wchar_t* name : {L"TMain", L"TVideoFrame", L"VideoRenderer"}) {
    UnregisterClassW(name, nullptr);
  }
  PipCardTest::TearDown();
}

HWND SettingsDialogTest::Open() {
  ShowSettings(&host_);
  Pump(150);
  return Dialog().Window();
}

HWND SettingsDialogTest::Page(int index) {
  HWND tabs = GetDlgItem(Dialog().Window(), IDC_SETTINGS_TABS);
  HWND page = FindWindowExW(tabs, nullptr, L"#32770", nullptr);
  return index == 0 ? page : FindWindowExW(tabs, page, L"#32770", nullptr);
}

void SettingsDialogTest::Click(HWND window, int id) {
  SendDlgItemMessageW(window, id, BM_CLICK, 0, 0);
  Pump(100);
}

void SettingsDialogTest::Start(int32_t format) {
  HostStream stream{320, 240, 0, format, 0};
  Descriptor()->start(&stream);
}

void SettingsDialogTest::Press(uint32_t code) {
  Lifecycle().LastFrameTick = GetTickCount();
  zhost::sendKey(host_, code);
  Pump(200);
}

}  // namespace kvx::test
