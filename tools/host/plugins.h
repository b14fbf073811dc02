// The plug-ins loaded from the Plugins folder, called as Zorvinta calls them. load, init, start,
// showSettings, stop, done and unload run on the UI thread; frame runs on the video thread only,
// between start and stop, while the list stays fixed.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "plugin/host_records.h"

namespace zhost {

class Plugins {
 public:
  Plugins() = default;
  Plugins(const Plugins&) = delete;
  Plugins& operator=(const Plugins&) = delete;
  ~Plugins() { unload(); }

  // Every *.dll of the folder in directory order; unusable ones are logged and skipped.
  void load(const std::wstring& folder);
  void init(kvx::HostCallbacks* callbacks);
  void start(kvx::HostStream* stream);
  void frame(kvx::HostFrame* frame);
  void showSettings(HWND* parent);
  void stop();
  void done();
  void unload();

  size_t size() const { return list_.size(); }
  std::wstring names() const;

 private:
  struct Plugin {
    std::wstring file;
    HMODULE module = nullptr;
    const kvx::PluginDescriptor* descriptor = nullptr;
    std::atomic<uint64_t> frames{0};
    // Time spent in Frame, in performance-counter ticks; written by the video thread only.
    std::atomic<uint64_t> frameTicks{0};
    std::atomic<uint64_t> slowestTicks{0};
  };
  std::vector<std::unique_ptr<Plugin>> list_;
};

}  // namespace zhost
