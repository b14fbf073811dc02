// The channel commands over a recording seam: what each request tunes, routes, sets and tells
// the host, and what PiPChannelOrder and PiPTVChannel keep.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "capture/channel_logic.h"

namespace kvx {
namespace {

class RecordingSeam final : public ChannelSeam {
 public:
  bool tunerUsable = true;
  int32_t hostPosition = 0;
  std::vector<HostChannel> channels;
  std::string calls;

  bool TunerUsable() override { return tunerUsable; }
  int32_t HostPosition() override { return hostPosition; }
  const HostChannel* ChannelAt(int32_t p) override {
    return p >= 0 && p < static_cast<int32_t>(channels.size()) ? &channels[p] : nullptr;
  }
  HResult RouteCrossbar(int32_t type) override { return Add("route", type); }
  HResult TuneFrequency(uint32_t hz) override { return Add("tune", static_cast<int64_t>(hz)); }
  HResult SetVideoStandard(int32_t standard) override { return Add("std", standard); }
  void TellHost(int32_t position) override { Add("host", position); }

 private:
  HResult Add(const char* what, int64_t value) {
    calls += (calls.empty() ? "" : " ") + std::string(what) + ":" + std::to_string(value);
    return kOk;
  }
};

enum class Command { kSet, kNext, kPrev, kSwap };

void RunCommand(ChannelCommands& commands, Command command, int32_t position) {
  switch (command) {
    case Command::kSet:
      commands.SetChannel(position);
      break;
    case Command::kNext:
      commands.NextChannel();
      break;
    case Command::kPrev:
      commands.PrevChannel();
      break;
    case Command::kSwap:
      commands.SwapChannels();
      break;
  }
}

TEST(ChannelLogic, EachRequestSelectsTunesAndRecordsItsSource) {
  // Channels 0 to 3 at 100 to 400 MHz; their own standards: none, SECAM, PAL, none.
  const struct {
    const char* what;
    int32_t order, tv;  // before
    int channels;
    bool tuner;
    int32_t host;
    Command command;
    int32_t position;  // for kSet
    const char* calls;
    int32_t orderAfter, tvAfter;
  } cases[] = {
      {"no tuner: S-Video ends on composite", 1, 1, 4, false, 0, Command::kSet, -3, "route:2", -2,
       1},
      {"no tuner: a channel too", 1, 1, 4, false, 0, Command::kSet, 2, "route:2", -2, 1},
      {"a channel from a channel", 1, 1, 4, true, 0, Command::kSet, 3, "tune:400000000", 3, 3},
      {"a channel from none", -1, 1, 4, true, 0, Command::kSet, 0, "tune:100000000", 0, 0},
      {"back from composite", -2, 1, 4, true, 0, Command::kSet, 1, "route:1 tune:200000000", 1, 1},
      {"back from S-Video", -3, 1, 4, true, 0, Command::kSet, 0, "route:1 tune:100000000", 0, 0},
      {"composite", 2, 2, 4, true, 0, Command::kSet, -2, "route:2", -2, 2},
      {"S-Video", 2, 2, 4, true, 0, Command::kSet, -3, "route:3", -3, 2},
      {"none", 2, 2, 4, true, 0, Command::kSet, -1, "", -1, 2},
      {"beyond the list: kept, not tuned", 2, 2, 4, true, 0, Command::kSet, 9, "", 9, 2},
      {"below -3: kept", 2, 2, 4, true, 0, Command::kSet, -7, "", -7, 2},
      {"next", 1, 1, 4, true, 0, Command::kNext, 0, "tune:300000000", 2, 2},
      {"next wraps", 3, 3, 4, true, 0, Command::kNext, 0, "tune:100000000", 0, 0},
      {"next from the largest position", INT_MAX, 3, 4, true, 0, Command::kNext, 0,
       "tune:100000000", 0, 0},
      {"next on composite", -2, 1, 4, true, 0, Command::kNext, 0, "", -2, 1},
      {"prev", 2, 2, 4, true, 0, Command::kPrev, 0, "tune:200000000", 1, 1},
      {"prev wraps", 0, 0, 4, true, 0, Command::kPrev, 0, "tune:400000000", 3, 3},
      {"prev wraps an empty list to none", 0, 0, 0, true, 0, Command::kPrev, 0, "", -1, 0},
      {"prev from the smallest channel", 2, INT_MIN, 4, true, 0, Command::kPrev, 0, "", INT_MIN,
       INT_MIN},
      {"prev on S-Video", -3, 1, 4, true, 0, Command::kPrev, 0, "", -3, 1},
      {"swap", 1, 1, 4, true, 3, Command::kSwap, 0, "tune:400000000 host:1", 3, 3},
      {"swap from none tells the host nothing", -1, 1, 4, true, 3, Command::kSwap, 0,
       "tune:400000000", 3, 3},
      {"swap with the host on composite", 1, 1, 4, true, -2, Command::kSwap, 0, "", 1, 1},
      {"swap with the PiP on S-Video", -3, 1, 4, true, 2, Command::kSwap, 0, "", -3, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingSeam seam;
    for (int i = 0; i < c.channels; ++i) {
      HostChannel channel{};
      channel.frequency = (i + 1) * 100000000u;
      channel.standard = i == 1 ? 1 : i == 2 ? 2 : 0;
      seam.channels.push_back(channel);
    }
    seam.tunerUsable = c.tuner;
    seam.hostPosition = c.host;
    PipSettings settings;
    settings.PiPChannelOrder = c.order;
    settings.PiPTVChannel = c.tv;
    ChannelCommands commands(seam, settings);
    RunCommand(commands, c.command, c.position);
    EXPECT_EQ(seam.calls, c.calls);
    EXPECT_EQ(settings.PiPChannelOrder, c.orderAfter);
    EXPECT_EQ(settings.PiPTVChannel, c.tvAfter);
  }
}

TEST(ChannelLogic, StandardComesFromVideoSystemAndTheChannelsOwnCode) {
  const struct {
    uint32_t videoSystem;
    int32_t channel;
    int32_t standard;
  } cases[] = {
      {0, 2, 0},   {1, 0, 0x2000}, {2, 0, 0x10},        {3, 0, 0x800}, {4, 0, 0x1},
      {5, 0, 0x2}, {2, 1, 0x2000}, {1, 5, 0x2},         {6, 0, 0},     {9, 2, 0x10},
      {2, 6, 0},   {2, -1, 0},     {0xFFFFFFFFu, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChannelStandard(c.videoSystem, c.channel), c.standard)
        << c.videoSystem << " " << c.channel;
  }
  RecordingSeam seam;
  HostChannel secam{};
  secam.frequency = 59250000;
  secam.standard = 1;
  seam.channels = {secam, HostChannel{}};
  PipSettings settings;
  settings.VideoSystem = 2;
  ChannelCommands(seam, settings).SetChannel(0);
  ChannelCommands(seam, settings).SetChannel(1);
  EXPECT_EQ(seam.calls, "tune:59250000 std:8192 tune:0 std:16");
}

TEST(ChannelLogic, OnlyFrequenciesInTheTunersRangeAreTuned) {
  TunerRange range;
  range.MinFrequency = 45000000;
  range.MaxFrequency = 860000000;
  EXPECT_EQ(TuningFlagsFor(range, 44999999), 0u);
  EXPECT_EQ(TuningFlagsFor(range, 45000000), kTuningExact);
  EXPECT_EQ(TuningFlagsFor(range, 860000000), kTuningExact);
  EXPECT_EQ(TuningFlagsFor(range, 860000001), 0u);
  range.Strategy = kStrategyDriverTunes;
  EXPECT_EQ(TuningFlagsFor(range, 500000000), kTuningFine);
  EXPECT_EQ(TheTunerRange().MinFrequency, 48250000u);  // until a tuner reports
}

// The address sanitizer's allocation hooks, where the tests run under it.
extern "C" __attribute__((weak)) int __sanitizer_install_malloc_and_free_hooks(
    void (*onMalloc)(const volatile void*, size_t), void (*onFree)(const volatile void*));
bool g_counting = false;
int g_allocations = 0;

// The host list a command sees, and the positions it was asked for, in order.
struct HostList {
  std::vector<HostChannel> channels;
  std::vector<int32_t> asked;
};

const HostChannel* Lookup(void* context, int32_t position) {
  auto* host = static_cast<HostList*>(context);
  host->asked.push_back(position);  // reserved beforehand
  return position >= 0 && position < static_cast<int32_t>(host->channels.size())
             ? &host->channels[position]
             : nullptr;
}

// A seam over the answers, as the Windows side has one for the looking run and one for the
// real run; it keeps the last frequency tuned.
class AnswerSeam final : public ChannelSeam {
 public:
  AnswerSeam(HostAnswers& answers, int32_t host) : answers_(answers), host_(host) {}
  uint32_t tuned = 0;
  bool TunerUsable() override { return true; }
  int32_t HostPosition() override { return host_; }
  const HostChannel* ChannelAt(int32_t p) override { return answers_.At(p); }
  bool HasChannel(int32_t p) override { return answers_.Has(p); }
  HResult RouteCrossbar(int32_t) override { return kOk; }
  HResult TuneFrequency(uint32_t hz) override {
    tuned = hz;
    return kOk;
  }
  HResult SetVideoStandard(int32_t) override { return kOk; }
  void TellHost(int32_t) override {}

 private:
  HostAnswers& answers_;
  int32_t host_;
};

// A hotkey's command runs inside the hook procedure: it asks the host for each position once,
// in the order the command needs them, and allocates nothing, even when it counts a long list.
TEST(HostAnswers, EachPositionIsAskedOnceInOrderAndNothingIsAllocated) {
  if (__sanitizer_install_malloc_and_free_hooks == nullptr) {
    GTEST_SKIP() << "this build cannot count allocations";
  }
  static const int installed = __sanitizer_install_malloc_and_free_hooks(
      [](const volatile void*, size_t) { g_allocations += g_counting ? 1 : 0; },
      [](const volatile void*) {});
  (void)installed;
  HostList host;
  for (uint32_t i = 0; i < 1000; ++i) {
    host.channels.push_back(HostChannel{});
    host.channels.back().frequency = 48250000 + i * 8000;
  }
  host.asked.reserve(4096);
  const struct {
    Command command;
    int32_t order;   // PiPChannelOrder before
    int32_t target;  // a position to set, or the host's for a swap
    int32_t asked;   // positions asked: 0 to asked - 1, or the one target
    int32_t orderAfter;
  } cases[] = {
      {Command::kPrev, 0, 0, 1001, 999},  // counts the whole list, then tunes the last
      {Command::kNext, 999, 0, -1, 0},    // 1000 is asked, and 0
      {Command::kSet, 3, 640, -1, 640},
      {Command::kSwap, 5, 7, -1, 7},
  };
  for (const auto& c : cases) {
    host.asked.clear();
    HostAnswers answers(&Lookup, &host);
    uint32_t tuned[2] = {};
    g_allocations = 0;
    g_counting = true;
    for (int run = 0; run < 2; ++run) {
      PipSettings settings;
      settings.PiPChannelOrder = c.order;
      settings.PiPTVChannel = c.order;
      AnswerSeam seam(answers, c.target);
      ChannelCommands commands(seam, settings);
      RunCommand(commands, c.command, c.target);
      tuned[run] = seam.tuned;
      EXPECT_EQ(settings.PiPChannelOrder, c.orderAfter);
    }
    g_counting = false;
    EXPECT_EQ(g_allocations, 0);
    std::vector<int32_t> expected;
    for (int32_t p = 0; p < c.asked; ++p) {
      expected.push_back(p);
    }
    if (c.command == Command::kNext) {
      expected = {1000, 0};
    } else if (c.asked < 0) {
      expected = {c.target};
    }
    EXPECT_EQ(host.asked, expected);
    EXPECT_EQ(tuned[0], tuned[1]);
    EXPECT_EQ(tuned[1], host.channels[c.orderAfter].frequency);
  }
}

}  // namespace
}  // namespace kvx
