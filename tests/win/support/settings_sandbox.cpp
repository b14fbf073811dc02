// Every in-process Init of win_tests keeps its settings file in a temporary folder, one file per
// test case named after it, so no test sees another's settings and nothing is written beside
// the test program. Tests that need another place put their own system in for the case.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/settings_system_win.h"

namespace kvx::test {
namespace {

class SandboxSystem : public Win32SettingsSystem {
 public:
  explicit SandboxSystem(std::wstring folder) : folder_(std::move(folder)) {}

  LocationFacts GatherFacts() override {
    LocationFacts facts = Win32SettingsSystem::GatherFacts();
    facts.storeInUsersFolder = 0;
    facts.hostProgram = folder_ + L"\\ZorvintaHost.exe";
    facts.commandLine = L"ZorvintaHost.exe";
    std::wstring name = L"outside_tests";
    if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info()) {
      const std::string full = std::string(test->test_suite_name()) + "_" + test->name();
      name.assign(full.begin(), full.end());
      for (wchar_t& c : name) {
        if (!iswalnum(c)) {
          c = L'_';
        }
      }
    }
    facts.moduleFile = name + L".dll";
    return facts;
  }

 private:
  std::wstring folder_;
};

class SettingsSandbox : public ::testing::Environment {
 public:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::filesystem::path(temp) /
              (L"kvx_settings_sandbox_" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(folder_);
    system_ = std::make_unique<SandboxSystem>(folder_.wstring());
    previous_ = SetSettingsSystemForTesting(system_.get());
  }
  void TearDown() override {
    SetSettingsSystemForTesting(previous_);
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
  }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<SandboxSystem> system_;
  SettingsSystem* previous_ = nullptr;
};

const auto* const g_sandbox = ::testing::AddGlobalTestEnvironment(new SettingsSandbox);

}  // namespace
}  // namespace kvx::test
