// The host's video thread: 25 frames a second it draws the main picture of the tuned channel,
// converts it to the stream's format, passes it through every plug-in's Frame, hands the result
// to the UI thread for display and, with /save, writes every n-th one to a PNG file.
// start, stop, tune and paint are called on the UI thread; the rest runs on the video thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/host_records.h"
#include "tools/host/plugins.h"

namespace zhost {

struct VideoSettings {
  int width = 0;
  int height = 0;
  int32_t format = 0;
  std::wstring saveFolder;
  int saveEvery = 25;
  HWND display = nullptr;  // invalidated after every frame; must outlive the thread
};

class VideoThread {
 public:
  VideoThread(const VideoSettings& settings, Plugins& plugins, kvx::HostChannelState tuned);
  ~VideoThread() { stop(); }
  VideoThread(const VideoThread&) = delete;
  VideoThread& operator=(const VideoThread&) = delete;

  bool start();
  // Waits for the thread while still answering messages sent to the UI thread's windows: a
  // plug-in's Frame may be inside SendMessage to the host.
  void stop();
  // Takes effect from the next frame on.
  void tune(const kvx::HostChannelState& state);
  // Draws the latest processed frame scaled into the client rectangle.
  void paint(HDC dc, const RECT& client);
  uint32_t frames() const { return frames_.load(); }
  // While off, the frames are still drawn and shown but no plug-in sees them.
  void setPluginFrames(bool on) { pluginFrames_.store(on); }

 private:
  static DWORD WINAPI threadMain(void* self);
  void run();

  VideoSettings settings_;
  Plugins& plugins_;
  HANDLE thread_ = nullptr;
  HANDLE stopEvent_ = nullptr;
  std::atomic<uint32_t> frames_{0};
  std::atomic<bool> pluginFrames_{true};

  SRWLOCK lock_ = SRWLOCK_INIT;  // guards tuned_ and shown_
  kvx::HostChannelState tuned_;
  std::vector<uint32_t> shown_;

  kvx::HostChannelState state_;  // the record the plug-ins see; video thread only
};

}  // namespace zhost
