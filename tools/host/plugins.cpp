#include "tools/host/plugins.h"

#include "tools/host/host_log.h"

namespace zhost {
namespace {

void logCall(const wchar_t* call, const std::wstring& file, bool present) {
  hostLog().write(present ? call + (L" " + file)
                          : call + (L" " + file) + L": not provided, not called");
}

}  // namespace

void Plugins::load(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*.dll").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    hostLog().write(L"no plug-ins in " + folder + L" (error " + std::to_wstring(GetLastError()) +
                    L")");
    return;
  }
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      continue;
    std::wstring file = found.cFileName;
    std::wstring path = folder + L"\\" + file;
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
      hostLog().write(file + L": cannot load (error " + std::to_wstring(GetLastError()) +
                      L"), skipped");
      continue;
    }
    auto version = reinterpret_cast<kvx::PluginVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "Zorvinta_Plugin_Version")));
    auto describe = reinterpret_cast<kvx::PluginDescriptorFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "Zorvinta_Plugin_PR")));
    if (version == nullptr || describe == nullptr) {
      hostLog().write(file + L": no Zorvinta_Plugin_Version or Zorvinta_Plugin_PR export, skipped");
      FreeLibrary(module);
      continue;
    }
    int32_t number = version();
    if (number != kvx::kPluginInterfaceVersion) {
      hostLog().write(file + L": version " + std::to_wstring(number) + L", skipped");
      FreeLibrary(module);
      continue;
    }
    const kvx::PluginDescriptor* descriptor = describe();
    if (descriptor == nullptr) {
      hostLog().write(file + L": version 3, null descriptor, skipped");
      FreeLibrary(module);
      continue;
    }
    hostLog().write(file + L": loaded, version 3, name \"" + fromCp1251(descriptor->name) +
                    L"\", short name \"" + fromCp1251(descriptor->shortName) + L"\"");
    auto plugin = std::make_unique<Plugin>();
    plugin->file = file;
    plugin->module = module;
    plugin->descriptor = descriptor;
    list_.push_back(std::move(plugin));
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

void Plugins::init(kvx::HostCallbacks* callbacks) {
  for (auto& plugin : list_) {
    logCall(L"Init", plugin->file, plugin->descriptor->init != nullptr);
    if (plugin->descriptor->init != nullptr)
      plugin->descriptor->init(callbacks);
  }
}

void Plugins::start(kvx::HostStream* stream) {
  for (auto& plugin : list_) {
    logCall(L"Start", plugin->file, plugin->descriptor->start != nullptr);
    if (plugin->descriptor->start != nullptr) {
      int32_t result = plugin->descriptor->start(stream);
      hostLog().write(L"Start " + plugin->file + L" returned " + std::to_wstring(result));
    }
  }
}

void Plugins::frame(kvx::HostFrame* frame) {
  for (auto& plugin : list_) {
    if (plugin->descriptor->frame == nullptr)
      continue;
    if (plugin->frames.fetch_add(1) == 0)
      hostLog().write(L"Frame " + plugin->file + L" first call");
    LARGE_INTEGER before;
    LARGE_INTEGER after;
    QueryPerformanceCounter(&before);
    plugin->descriptor->frame(frame);
    QueryPerformanceCounter(&after);
    const auto ticks = static_cast<uint64_t>(after.QuadPart - before.QuadPart);
    plugin->frameTicks += ticks;
    if (ticks > plugin->slowestTicks)
      plugin->slowestTicks = ticks;
  }
}

void Plugins::showSettings(HWND* parent) {
  for (auto& plugin : list_) {
    logCall(L"ShowSettings", plugin->file, plugin->descriptor->showSettings != nullptr);
    if (plugin->descriptor->showSettings != nullptr)
      plugin->descriptor->showSettings(parent);
  }
}

void Plugins::stop() {
  for (auto& plugin : list_) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const uint64_t calls = plugin->frames.load();
    const auto micros = [&](uint64_t ticks) {
      return std::to_wstring(ticks * 1000000 / static_cast<uint64_t>(frequency.QuadPart));
    };
    hostLog().write(L"Frame " + plugin->file + L" called " + std::to_wstring(calls) +
                    L" times, average " + micros(calls > 0 ? plugin->frameTicks / calls : 0) +
                    L" us, slowest " + micros(plugin->slowestTicks) + L" us");
    logCall(L"Stop", plugin->file, plugin->descriptor->stop != nullptr);
    if (plugin->descriptor->stop != nullptr)
      plugin->descriptor->stop();
  }
}

void Plugins::done() {
  for (auto& plugin : list_) {
    logCall(L"Done", plugin->file, plugin->descriptor->done != nullptr);
    if (plugin->descriptor->done != nullptr)
      plugin->descriptor->done();
  }
}

void Plugins::unload() {
  for (auto& plugin : list_) {
    FreeLibrary(plugin->module);
    hostLog().write(L"unloaded " + plugin->file);
  }
  list_.clear();
}

std::wstring Plugins::names() const {
  std::wstring names;
  for (const auto& plugin : list_)
    names += (names.empty() ? L"" : L", ") + plugin->file;
  return names.empty() ? L"none" : names;
}

}  // namespace zhost
