// The product DLL as the host sees it: loaded by path, found by export name.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "plugin/host_records.h"

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

}  // namespace
