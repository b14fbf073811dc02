// The shipped DLL's own runtime under a plain host (tests/win/runtime_host), not the test
// program's: an exception the DLL throws and catches while a shared unwinder DLL is loaded, and
// load/unload cycles with host threads that end, which leave no thread-local index and next to
// no memory behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/win/support/host_process.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

fs::path ProgramFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path();
}

// Runs one of the runtime programs in a folder of its own with the DLL; its exit code, and its
// result line (result.txt, or what it printed).
std::pair<DWORD, std::string> RunProgram(const std::wstring& program,
                                         const std::wstring& arguments) {
  const fs::path folder =
      fs::temp_directory_path() / (L"kvx_runtime_" + std::to_wstring(GetCurrentProcessId()));
  fs::create_directories(folder);
  for (const wchar_t* name :
       {program.c_str(), L"KVX_PiP.dll", L"libgcc_s_dw2-1.dll", L"libwinpthread-1.dll"}) {
    std::error_code missing;  // the shared unwinder and its thread library: 32-bit builds alone
    fs::copy_file(ProgramFolder() / name, folder / name, fs::copy_options::overwrite_existing,
                  missing);
  }
  std::wstring command = L"\"" + (folder / program).wstring() + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  DWORD code = 9999;
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                     &startup, &process)) {
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 9998);
    }
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  const std::string result = ReadBytes(folder / L"result.txt");
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return {code, result};
}

std::pair<DWORD, std::string> RunRuntimeHost(const std::wstring& arguments) {
  return RunProgram(L"runtime_host.exe", arguments);
}

TEST(ShippedRuntime, ExceptionsStayInsideAndReloadsLeaveNothingBehind) {
  if (fs::exists(ProgramFolder() / L"libgcc_s_dw2-1.dll")) {
    const auto [code, result] = RunRuntimeHost(L"unwinder preload");
    EXPECT_EQ(code, 0u) << result;
    EXPECT_EQ(result.rfind("unwinder: the host goes on", 0), 0u) << result;
  }
  constexpr int kCycles = 30;
  const auto [code, result] = RunRuntimeHost(L"cycles " + std::to_wstring(kCycles));
  ASSERT_EQ(code, 0u) << result;
  int cycles = 0;
  long long heap = 0;
  unsigned long tlsBefore = 0;
  unsigned long tlsAfter = 0;
  ASSERT_EQ(std::sscanf(result.c_str(), "cycles %d heap %lld tls %lu %lu", &cycles, &heap,
                        &tlsBefore, &tlsAfter),
            4)
      << result;
  EXPECT_EQ(tlsAfter, tlsBefore);
  EXPECT_LT(heap, kCycles * 300LL);
  std::printf("%d cycles: heap %+lld bytes, %lu free TLS indexes before and %lu after\n", cycles,
              heap, tlsBefore, tlsAfter);

  // Host threads that met an exception inside the DLL and ended leave nothing more than those
  // that met none.
  constexpr int kThreads = 100;
  const auto [threadsCode, threadsResult] = RunRuntimeHost(L"threads " + std::to_wstring(kThreads));
  ASSERT_EQ(threadsCode, 0u) << threadsResult;
  long long plain = 0;
  long long excepting = 0;
  ASSERT_EQ(std::sscanf(threadsResult.c_str(), "threads %*d heap %lld with exceptions %lld", &plain,
                        &excepting),
            2)
      << threadsResult;
  EXPECT_LT(excepting - plain, kThreads * 16LL);
  std::printf("%d host threads: heap %+lld bytes, %+lld with an exception each\n", kThreads, plain,
              excepting);
}

// The same runtime's guards for function-local statics, raced by threads started before any
// static is built (runtime_host/runtime_statics.cpp; it exits 0 when each static was built once,
// no thread went on early and no build held up another).
TEST(ShippedRuntime, StaticsRacedBeforeAnyIsBuiltAreBuiltOnceAndWaitedFor) {
  const auto [code, result] = RunProgram(L"runtime_statics.exe", L"");
  EXPECT_EQ(code, 0u) << result;
}

}  // namespace
}  // namespace kvx::test
