// The rules of the PiP card's source: which channel or input a command selects, what is tuned,
// routed and set, what PiPChannelOrder and PiPTVChannel keep, and what the host is told.
// Portable; the card's hardware, the host's channel list and main window and the lifecycle
// flags come through ChannelSeam.
//
// Threads: the commands come from Init and Start (the host's thread), from the hooks and from
// the settings dialog (the host's user-interface thread). The Windows side runs each command
// under the capture graph's lock (capture/channels.h), so commands never interleave with each
// other or with a rebuild.
#pragma once

#include <cstdint>

#include "base/hresult.h"
#include "plugin/host_records.h"
#include "settings/pip_settings.h"

namespace kvx {

// Crossbar physical connector types.
inline constexpr int32_t kConnectorTuner = 1;
inline constexpr int32_t kConnectorComposite = 2;
inline constexpr int32_t kConnectorSVideo = 3;
inline constexpr int32_t kConnectorVideoDecoder = 12;

// VideoSystem codes 0 to 5: the standard combo box's texts (Windows-1251) and the analog video
// standard each sets; "Авто" sets none.
struct VideoStandard {
  const char* text;
  int32_t standard;
};
inline constexpr VideoStandard kVideoStandards[] = {
    {"\xC0\xE2\xF2\xEE", 0}, {"SECAM", 0x2000}, {"PAL", 0x10},
    {"PAL 60", 0x800},       {"NTSC M", 0x1},   {"NTSC Japan", 0x2},
};

// The standard set for a channel: none with VideoSystem 0; else the channel's own code when it
// has one, VideoSystem's otherwise. A code outside 0 to 5 (negative ones included) sets none.
int32_t ChannelStandard(uint32_t videoSystem, int32_t channelStandard);

// What the tuner reported of its TV mode; the initial values hold until a tuner reports.
struct TunerRange {
  uint32_t MinFrequency = 48250000;
  uint32_t MaxFrequency = 863250000;
  uint32_t SettlingTime = 150;  // ms; not used
  uint32_t Strategy = 1;        // KS_TUNER_STRATEGY_PLL
};
// Module-wide; changed only by SetupTuner.
TunerRange& TheTunerRange();

inline constexpr uint32_t kTuningExact = 1;          // KS_TUNER_TUNING_EXACT
inline constexpr uint32_t kTuningFine = 2;           // KS_TUNER_TUNING_FINE
inline constexpr uint32_t kStrategyDriverTunes = 4;  // KS_TUNER_STRATEGY_DRIVER_TUNES
// The tuning flags for a frequency: 0 outside the range (it is not tuned), fine tuning when
// the driver tunes, exact otherwise.
uint32_t TuningFlagsFor(const TunerRange& range, uint32_t hz);

class ChannelSeam {
 public:
  virtual ~ChannelSeam() = default;
  virtual bool TunerUsable() = 0;
  virtual int32_t HostPosition() = 0;
  // The host's channel at a 0-based position, or null beyond its list.
  virtual const HostChannel* ChannelAt(int32_t position) = 0;
  // Whether the host lists a channel there: what counting and stepping ask.
  virtual bool HasChannel(int32_t position) { return ChannelAt(position) != nullptr; }
  virtual HResult RouteCrossbar(int32_t connectorType) = 0;
  virtual HResult TuneFrequency(uint32_t hz) = 0;
  virtual HResult SetVideoStandard(int32_t standard) = 0;
  // Asks the host to tune to position (0 or more).
  virtual void TellHost(int32_t position) = 0;
};

// The host's answers as a command asks for them, each position asked once, kept without
// allocating: a command may run inside a hook procedure, which must not fail on memory. A first
// run of a command that only looks gathers them; the real run gets the same answers without
// asking again. What it keeps: the run of positions from 0 on that were found listed one after
// the other (a count), and the whole answers of the last few positions asked, which is every
// position a command tunes or steps to.
class HostAnswers {
 public:
  using Lookup = const HostChannel* (*)(void* context, int32_t position);
  HostAnswers(Lookup lookup, void* context) : lookup_(lookup), context_(context) {}

  bool Has(int32_t position);
  const HostChannel* At(int32_t position);

 private:
  struct Answer {
    int32_t position = 0;
    bool listed = false;
    HostChannel channel{};
  };
  static constexpr int kKept = 4;
  const Answer* Kept(int32_t position) const;
  const Answer& AskHost(int32_t position);

  Lookup lookup_;
  void* context_;
  Answer kept_[kKept];
  int count_ = 0;  // answers kept, at most kKept
  int next_ = 0;   // where the next answer goes
  // Positions 0 to listed_ - 1 were asked in order and are listed; endsAt_ was asked next and
  // is not (-1 until then).
  int32_t listed_ = 0;
  int32_t endsAt_ = -1;
};

class ChannelCommands {
 public:
  ChannelCommands(ChannelSeam& seam, PipSettings& settings) : seam_(seam), s_(settings) {}

  // Selects a channel position (0 or more), none (-1), composite (-2) or S-Video (-3), and
  // records it in PiPChannelOrder even when the hardware fails. The result is the last
  // hardware call's; no caller needs it.
  HResult SetChannel(int32_t position);
  // Step through the host's list, wrapping at both ends; nothing on an external input.
  void NextChannel();
  void PrevChannel();
  // The PiP takes the host's channel and the host the PiP's; nothing while either is on an
  // external input.
  void SwapChannels();
  void TellHostChannel(int32_t position);

 private:
  ChannelSeam& seam_;
  PipSettings& s_;
};

}  // namespace kvx
