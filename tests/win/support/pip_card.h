// The plug-in with the virtual TV card as its PiP card, in-process: the card registered (see
// tv_card.h), card 1's four devices saved as the PiP devices, the status log recorded, a
// channel list lent as the host's, and the capture graph stopped and torn down after each test.
// All on the test thread unless a test says otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "plugin/host_records.h"
#include "tests/win/support/tv_card.h"

namespace kvx::test {

class PipCardTest : public TvCardTest {
 public:
  // The status log since SetUp or the last clear.
  static std::vector<std::pair<int32_t, std::string>>& Log();
  static bool Logged(const std::string& text);
  // The status log's n-th entry from now throws std::bad_alloc, as a failed allocation at that
  // step of the work would; 0 throws nothing. FailedYet: it has thrown (or none was asked for).
  static void FailAtLogEntry(int n);
  static bool FailedYet();

 protected:
  void SetUp() override;
  void TearDown() override;

  // Saves card 1's devices whose letters are in `which`: Tuner, Audio, Crossbar, X capture.
  static void Select(const std::string& which);
  void Reregister(const wchar_t* faults);
};

// A device path of the card as the settings keep it.
std::string Path(int card, tvcard::Role role, bool replugged = false);
// Whether the renderer's frame changes within timeoutMs: the card is delivering.
bool FramesFlowing(DWORD timeoutMs);

// The host's channel list in these tests: stations of the card's plan, and one out of its
// tuner's range.
inline constexpr HostChannel MakeChannel(uint32_t hz, int32_t standard) {
  HostChannel channel{};
  channel.frequency = hz;
  channel.standard = standard;
  return channel;
}
inline HostChannel kTestChannels[] = {MakeChannel(49750000, 1), MakeChannel(175250000, 0),
                                      MakeChannel(870000000, 0), MakeChannel(471250000, 2)};
inline constexpr int32_t kTestChannelCount = 4;

}  // namespace kvx::test
