#include "capture/channels.h"

#include "capture/capture_graph.h"
#include "capture/channel_logic.h"
#include "capture/tuning.h"
#include "plugin/plugin.h"
#include "settings/settings_store.h"

namespace kvx {
namespace {

// The host's channel list as a command asks for it. A host may hold a lock of its own while it
// calls Init, Stop or Done on another thread, and those take the graph's lock: the host is
// therefore asked before a command takes the lock, in a first run of the command that only
// looks (on a copy of the settings it reads, without the card), and the real run under the lock
// gets the same answers (capture/channel_logic.h).
const HostChannel* AskHost(void*, int32_t position) {
  return Settings().HostChannelAt(position);
}

class LookingSeam final : public ChannelSeam {
 public:
  explicit LookingSeam(HostAnswers& host) : host_(host) {}
  bool TunerUsable() override { return Lifecycle().TunerUsable; }
  int32_t HostPosition() override { return Lifecycle().HostPosition; }
  const HostChannel* ChannelAt(int32_t position) override { return host_.At(position); }
  bool HasChannel(int32_t position) override { return host_.Has(position); }
  HResult RouteCrossbar(int32_t) override { return kOk; }
  HResult TuneFrequency(uint32_t) override { return kOk; }
  HResult SetVideoStandard(int32_t) override { return kOk; }
  void TellHost(int32_t) override {}

 private:
  HostAnswers& host_;
};

class CardSeam final : public ChannelSeam {
 public:
  explicit CardSeam(HostAnswers& host) : host_(host) {}
  bool TunerUsable() override { return Lifecycle().TunerUsable; }
  int32_t HostPosition() override { return Lifecycle().HostPosition; }
  // Another thread's command in between may lead to a position the first run did not ask for;
  // only then is the host asked under the lock.
  const HostChannel* ChannelAt(int32_t position) override { return host_.At(position); }
  bool HasChannel(int32_t position) override { return host_.Has(position); }
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

 private:
  HostAnswers& host_;
};

// Runs one command under the graph's lock, with the host's answers gathered before.
template <class Command>
auto Run(Command command) {
  HostAnswers host(&AskHost, nullptr);
  {
    const PipSettings& live = Settings().current;
    PipSettings looked = PipSettings::Defaults();
    looked.PiPChannelOrder = live.PiPChannelOrder;
    looked.PiPTVChannel = live.PiPTVChannel;
    looked.VideoSystem = live.VideoSystem;
    LookingSeam seam(host);
    ChannelCommands commands(seam, looked);
    command(commands);
  }
  ScopedLock lock(GraphLock());
  CardSeam seam(host);
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
