// Runs ZorvintaHost.exe with KVX_PiP.dll in its Plugins folder, in a folder of its own, and
// reads the host's log afterwards. Several runs may go at once: start them all, then wait.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kvx::test {

struct ProductRun {
  std::filesystem::path folder;  // ZorvintaHost.exe, Plugins\KVX_PiP.dll, host.log
  HANDLE process = nullptr;
  std::string error;  // empty when the host ran and ended by itself with code 0
  std::vector<std::string> log;

  // Log lines that contain text.
  size_t Count(const std::string& text) const;
};

// A fresh folder %TEMP%\kvx_<name>_<pid> holding the host and the product plug-in.
std::filesystem::path MakeHostFolder(const std::wstring& name);
// Starts the host in run.folder for one second with arguments and a log.
void StartHost(ProductRun& run, const std::wstring& arguments);
// Waits for the host to end and reads its log.
void FinishHost(ProductRun& run);

// The file's bytes; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& file);

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // top row first, 0x00RRGGBB

  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
// A PNG file the host saved; an empty image when WIC cannot read the file.
Image readPng(const std::filesystem::path& file);

}  // namespace kvx::test
