#include "capture/channels.h"

#include "capture/capture_graph.h"
#include "capture/channel_logic.h"
#include "capture/tuning.h"
#include "plugin/plugin.h"
#include "settings/settings_store.h"

namespace kvx {
namespace {

class CardSeam final : public ChannelSeam {
 public:
  bool TunerUsable() override { return Lifecycle().TunerUsable; }
  int32_t HostPosition() override { return Lifecycle().HostPosition; }
  const HostChannel* ChannelAt(int32_t position) override {
    return Settings().HostChannelAt(position);
  }
  HResult RouteCrossbar(int32_t connectorType) override {
    return kvx::RouteCrossbar(connectorType);
  }
  HResult TuneFrequency(uint32_t hz) override { return kvx::TuneFrequency(hz); }
  HResult SetVideoStandard(int32_t standard) override { return kvx::SetVideoStandard(standard); }
  void TellHost(int32_t position) override {
    if (auto* main = static_cast<HWND>(Settings().MainWindow)) {
      PostMessageW(main, kWmHostCommand, kHostCommandTuneChannel,
                   static_cast<LPARAM>(static_cast<int64_t>(position) + 1));
    }
  }
};

// Runs one command under the graph's lock.
template <class Command>
auto Run(Command command) {
  ScopedLock lock(GraphLock());
  CardSeam seam;
  ChannelCommands commands(seam, Settings().current);
  return command(commands);
}

}  // namespace

HRESULT SetChannel(int32_t position) {
  return Run([=](ChannelCommands& c) { return c.SetChannel(position); });
}

void NextChannel() {
  Run([](ChannelCommands& c) { c.NextChannel(); });
}

void PrevChannel() {
  Run([](ChannelCommands& c) { c.PrevChannel(); });
}

void SwapChannels() {
  Run([](ChannelCommands& c) { c.SwapChannels(); });
}

void TellHostChannel(int32_t position) {
  Run([=](ChannelCommands& c) { c.TellHostChannel(position); });
}

}  // namespace kvx
