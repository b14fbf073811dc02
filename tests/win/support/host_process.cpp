#include "tests/win/support/host_process.h"

#include <wincodec.h>

#include <fstream>
#include <iterator>

#include "video/com_ptr.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kRunTimeoutMs = 30000;

fs::path ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, length)).parent_path();
}

}  // namespace

size_t ProductRun::Count(const std::string& text) const {
  size_t count = 0;
  for (const std::string& line : log) {
    count += line.find(text) != std::string::npos ? 1 : 0;
  }
  return count;
}

fs::path MakeHostFolder(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const fs::path folder =
      fs::path(temp) / (L"kvx_" + name + L"_" + std::to_wstring(GetCurrentProcessId()));
  std::error_code error;
  fs::remove_all(folder, error);
  fs::create_directories(folder / L"Plugins");
  const fs::path from = ProgramFolder();
  fs::copy_file(from / L"ZorvintaHost.exe", folder / L"ZorvintaHost.exe");
  fs::copy_file(from / L"KVX_PiP.dll", folder / L"Plugins" / L"KVX_PiP.dll");
  return folder;
}

void StartHost(ProductRun& run, const std::wstring& arguments) {
  const std::wstring exe = (run.folder / L"ZorvintaHost.exe").wstring();
  std::wstring commandLine = L"\"" + exe + L"\" /seconds:1 \"/log:" +
                             (run.folder / L"host.log").wstring() + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      run.folder.wstring().c_str(), &startup, &info)) {
    run.error = "CreateProcessW failed, error " + std::to_string(GetLastError());
    return;
  }
  CloseHandle(info.hThread);
  run.process = info.hProcess;
}

void FinishHost(ProductRun& run) {
  if (run.process == nullptr) {
    return;
  }
  if (WaitForSingleObject(run.process, kRunTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(run.process, 99);
    WaitForSingleObject(run.process, 5000);
    run.error = "the host did not end in time";
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(run.process, &exitCode);
  if (run.error.empty() && exitCode != 0) {
    run.error = "the host ended with code " + std::to_string(exitCode);
  }
  CloseHandle(run.process);
  run.process = nullptr;
  std::ifstream in(run.folder / L"host.log", std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    run.log.push_back(line);
  }
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Image readPng(const fs::path& file) {
  HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  Image image;
  {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICBitmapSource> converted;
    UINT width = 0, height = 0;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, factory.put_void());
    if (SUCCEEDED(hr))
      hr = factory->CreateDecoderFromFilename(file.wstring().c_str(), nullptr, GENERIC_READ,
                                              WICDecodeMetadataCacheOnDemand, decoder.put());
    if (SUCCEEDED(hr))
      hr = decoder->GetFrame(0, frame.put());
    if (SUCCEEDED(hr))
      hr = WICConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame.get(), converted.put());
    if (SUCCEEDED(hr))
      hr = converted->GetSize(&width, &height);
    if (SUCCEEDED(hr)) {
      std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
      hr = converted->CopyPixels(nullptr, width * 4, static_cast<UINT>(pixels.size() * 4),
                                 reinterpret_cast<BYTE*>(pixels.data()));
      if (SUCCEEDED(hr)) {
        image.width = static_cast<int>(width);
        image.height = static_cast<int>(height);
        for (uint32_t& pixel : pixels)
          pixel &= 0xFFFFFF;
        image.pixels = std::move(pixels);
      }
    }
  }
  if (SUCCEEDED(com))
    CoUninitialize();
  return image;
}

}  // namespace kvx::test
