// The product DLL as the host sees it: loaded by path, found by export name.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "plugin/host_records.h"
#include "tests/win/support/pip_card.h"
#include "ui/resource_ids.h"

namespace {

std::wstring BesideThisProgram(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1) + name;
}

std::wstring FromCp1251(const char* text) {
  wchar_t wide[256];
  const int n = MultiByteToWideChar(1251, MB_ERR_INVALID_CHARS, text, -1, wide, 256);
  return n > 0 ? std::wstring(wide, n - 1) : L"<invalid>";
}

class PluginDll : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(BesideThisProgram(L"KVX_PiP.dll").c_str());
    ASSERT_NE(module_, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) {
      FreeLibrary(module_);
    }
  }
  HMODULE module_ = nullptr;
};

TEST_F(PluginDll, ExportsVersionThreeAndTheDescriptor) {
  auto version = reinterpret_cast<kvx::PluginVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(module_, "Zorvinta_Plugin_Version")));
  auto descriptorFn = reinterpret_cast<kvx::PluginDescriptorFn>(
      reinterpret_cast<void*>(GetProcAddress(module_, "Zorvinta_Plugin_PR")));
  ASSERT_NE(version, nullptr);
  ASSERT_NE(descriptorFn, nullptr);
  EXPECT_EQ(version(), 3);

  const kvx::PluginDescriptor* d = descriptorFn();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(descriptorFn(), d);  // one static record
  EXPECT_EQ(FromCp1251(d->name), L"PiP - кадр в кадре");
  EXPECT_EQ(FromCp1251(d->shortName), L"Кадр в кадре");
  EXPECT_NE(d->init, nullptr);
  EXPECT_NE(d->start, nullptr);
  EXPECT_NE(d->frame, nullptr);
  EXPECT_NE(d->stop, nullptr);
  EXPECT_NE(d->showSettings, nullptr);
  EXPECT_NE(d->done, nullptr);
}

TEST_F(PluginDll, StatusLineTextsAreInTheStringTable) {
  wchar_t text[200];
  ASSERT_GT(LoadStringW(module_, 3, text, 200), 0);
  EXPECT_STREQ(text, L" ");
  ASSERT_GT(LoadStringW(module_, 4, text, 200), 0);
  EXPECT_STREQ(text,
               L"!!! Устройство PiP не выбрано, выбрано неверно или занято другой программой !!!");
  ASSERT_GT(LoadStringW(module_, 5, text, 200), 0);
  EXPECT_STREQ(text, L"!!! Устройство PiP не может быть запущено !!!");
}

// A host that calls Done from a timer firing inside one of the plug-in's modal boxes, and
// unloads the DLL as soon as Done returns, on a user-interface thread of its own without COM.
struct HarshHost {
  HMODULE module = nullptr;
  const kvx::PluginDescriptor* plugin = nullptr;
  HWND dialog = nullptr;
  bool boxOpen = false;
  // The module was still there after the host freed it: the box's loop had code to return to.
  bool stayed = false;
  // Loaded and initialised again inside the same box, right after Done, from this path (empty:
  // no reload).
  std::wstring reload;
  HMODULE again = nullptr;
  const kvx::PluginDescriptor* second = nullptr;
};
HarshHost* g_host = nullptr;

// Fires until the box is open (the one enabled window with a caption: the box disables the
// dialog and the host's window), then calls Done and unloads.
void CALLBACK DoneAndUnload(HWND, UINT, UINT_PTR timer, DWORD) {
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM) WINAPI -> BOOL {
        const LONG style = GetWindowLongW(window, GWL_STYLE);
        g_host->boxOpen |= IsWindowVisible(window) && IsWindowEnabled(window) &&
                           (style & WS_CAPTION) == WS_CAPTION && window != g_host->dialog;
        return TRUE;
      },
      0);
  if (!g_host->boxOpen) {
    return;
  }
  KillTimer(nullptr, timer);
  g_host->plugin->done();
  FreeLibrary(g_host->module);
  HMODULE loaded = nullptr;
  g_host->stayed = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                          GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                      reinterpret_cast<LPCWSTR>(g_host->plugin), &loaded) &&
                   loaded == g_host->module;
  if (!g_host->reload.empty()) {
    g_host->again = LoadLibraryW(g_host->reload.c_str());
    g_host->second = reinterpret_cast<kvx::PluginDescriptorFn>(
        reinterpret_cast<void*>(GetProcAddress(g_host->again, "Zorvinta_Plugin_PR")))();
    kvx::HostCallbacks callbacks{nullptr, nullptr};
    g_host->second->init(&callbacks);
  }
}

using UnloadInsideModalBox = kvx::test::TvCardTest;

TEST_F(UnloadInsideModalBox, DoneFromTheAboutBoxOrAPropertyFrameReturnsAndTheHostGoesOn) {
  namespace fs = std::filesystem;
  using tvcard::Role;
  // The DLL keeps its settings beside the host program, this test program.
  const fs::path folder = BesideThisProgram(L"Plugins");
  fs::create_directories(folder);
  std::ofstream(folder / L"KVX_PiP.ini", std::ios::binary)
      << "[COMMON]\r\nCrossbarDevicePath=" << kvx::test::Path(1, Role::kCrossbar)
      << "\r\nCaptureDevicePath=" << kvx::test::Path(1, Role::kCapture) << "\r\n";
  // A reload from another folder is another module: the one the box still runs in is pinned.
  const fs::path copy = BesideThisProgram(L"elsewhere");
  fs::create_directories(copy);
  fs::copy_file(BesideThisProgram(L"KVX_PiP.dll"), copy / L"KVX_PiP.dll",
                fs::copy_options::overwrite_existing);
  const struct {
    int button;
    std::wstring reload;
  } cases[] = {{IDC_SETTINGS_ABOUT, BesideThisProgram(L"KVX_PiP.dll")},
               {IDC_SETTINGS_ABOUT, (copy / L"KVX_PiP.dll").wstring()},
               {IDC_CAPTURE_PAGES, L""}};
  for (const auto& [button, reload] : cases) {
    SCOPED_TRACE(std::string(reload.begin(), reload.end()));
    HarshHost host;
    host.reload = reload;
    g_host = &host;
    std::atomic<bool> returned{false};
    std::thread ui([&] {
      host.module = LoadLibraryW(BesideThisProgram(L"KVX_PiP.dll").c_str());
      ASSERT_NE(host.module, nullptr);
      host.plugin = reinterpret_cast<kvx::PluginDescriptorFn>(
          reinterpret_cast<void*>(GetProcAddress(host.module, "Zorvinta_Plugin_PR")))();
      kvx::HostCallbacks callbacks{nullptr, nullptr};
      host.plugin->init(&callbacks);
      HWND window = CreateWindowW(L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400,
                                  300, nullptr, nullptr, nullptr, nullptr);
      host.plugin->showSettings(&window);
      host.dialog = FindWindowW(L"#32770", L"KVX_PiP плагин");
      ASSERT_NE(host.dialog, nullptr);
      HWND target = button == IDC_SETTINGS_ABOUT
                        ? host.dialog
                        : FindWindowExW(GetDlgItem(host.dialog, IDC_SETTINGS_TABS), nullptr,
                                        L"#32770", nullptr);  // the device page
      SetTimer(nullptr, 0, 300, &DoneAndUnload);
      SendMessageW(target, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(target, button)));
      if (host.second != nullptr) {
        // The box is gone; the plug-in loaded again inside it keeps this thread's COM until its
        // own Done, which ends it.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        CoUninitialize();
        host.second->done();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
        FreeLibrary(host.again);
      }
      DestroyWindow(window);
      returned = true;
    });
    for (int i = 0; i < 1000 && !returned; ++i) {
      Sleep(10);
    }
    if (!returned) {
      ADD_FAILURE() << "the host's thread is still in the box " << button;
      std::fflush(nullptr);
      TerminateProcess(GetCurrentProcess(), 3);
    }
    ui.join();
    EXPECT_TRUE(host.boxOpen) << button;
    EXPECT_TRUE(host.stayed) << button;
    EXPECT_EQ(host.second != nullptr, !host.reload.empty()) << button;
  }
  EXPECT_EQ(CardObjects(), 0);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::remove_all(copy, ignored);
}

}  // namespace
