#include "capture/channel_logic.h"

#include <cstdint>
#include <iterator>
#include <limits>

#include "base/mul_div.h"

namespace kvx {
namespace {

// A host list longer than this is taken to end here: counting it must not stall the host.
constexpr int32_t kMostChannels = 1 << 16;

}  // namespace

int32_t ChannelStandard(uint32_t videoSystem, int32_t channelStandard) {
  if (videoSystem == 0) {
    return 0;
  }
  const uint32_t code = channelStandard != 0 ? static_cast<uint32_t>(channelStandard) : videoSystem;
  return code < std::size(kVideoStandards) ? kVideoStandards[code].standard : 0;
}

TunerRange& TheTunerRange() {
  static TunerRange range;
  return range;
}

uint32_t TuningFlagsFor(const TunerRange& range, uint32_t hz) {
  if (hz < range.MinFrequency || hz > range.MaxFrequency) {
    return 0;
  }
  return range.Strategy == kStrategyDriverTunes ? kTuningFine : kTuningExact;
}

HResult ChannelCommands::SetChannel(int32_t position) {
  if (!seam_.TunerUsable()) {
    // Without a tuner every request ends on the composite input.
    const HResult hr = seam_.RouteCrossbar(kConnectorComposite);
    s_.PiPChannelOrder = kSourceComposite;
    return hr;
  }
  HResult hr = kOk;
  if (position >= 0) {
    if (const HostChannel* channel = seam_.ChannelAt(position)) {
      if (s_.PiPChannelOrder < kSourceNone) {
        seam_.RouteCrossbar(kConnectorTuner);  // back from an external input
      }
      hr = seam_.TuneFrequency(channel->frequency);
      if (const int32_t standard = ChannelStandard(s_.VideoSystem, channel->standard)) {
        hr = seam_.SetVideoStandard(standard);
      }
      s_.PiPTVChannel = position;
    }
  } else if (position == kSourceComposite) {
    hr = seam_.RouteCrossbar(kConnectorComposite);
  } else if (position == kSourceSVideo) {
    hr = seam_.RouteCrossbar(kConnectorSVideo);
  }
  // Also none, positions beyond the host's list and values below -3: the request is kept.
  s_.PiPChannelOrder = position;
  return hr;
}

const HostAnswers::Answer* HostAnswers::Kept(int32_t position) const {
  for (int i = 0; i < count_; ++i) {
    if (kept_[i].position == position) {
      return &kept_[i];
    }
  }
  return nullptr;
}

const HostAnswers::Answer& HostAnswers::AskHost(int32_t position) {
  Answer& answer = kept_[next_];
  next_ = (next_ + 1) % kKept;
  count_ = count_ < kKept ? count_ + 1 : kKept;
  answer = Answer{position, false, {}};
  if (const HostChannel* channel = lookup_(context_, position)) {
    answer.listed = true;
    answer.channel.frequency = channel->frequency;
    answer.channel.standard = channel->standard;
  }
  if (position == listed_ && endsAt_ < 0) {
    if (answer.listed) {
      ++listed_;
    } else {
      endsAt_ = position;
    }
  }
  return answer;
}

bool HostAnswers::Has(int32_t position) {
  if (const Answer* kept = Kept(position)) {
    return kept->listed;
  }
  if (position >= 0 && position < listed_) {
    return true;
  }
  return position != endsAt_ && AskHost(position).listed;
}

const HostChannel* HostAnswers::At(int32_t position) {
  const Answer* answer = Kept(position);
  if (answer == nullptr && position == endsAt_) {
    return nullptr;
  }
  if (answer == nullptr) {
    answer = &AskHost(position);
  }
  return answer->listed ? &answer->channel : nullptr;
}

void ChannelCommands::NextChannel() {
  if (s_.PiPChannelOrder < kSourceNone) {
    return;
  }
  const int64_t next = static_cast<int64_t>(s_.PiPChannelOrder) + 1;
  const bool listed =
      next <= std::numeric_limits<int32_t>::max() && seam_.HasChannel(static_cast<int32_t>(next));
  SetChannel(listed ? static_cast<int32_t>(next) : 0);
}

void ChannelCommands::PrevChannel() {
  if (s_.PiPChannelOrder < kSourceNone) {
    return;
  }
  if (s_.PiPChannelOrder < 1) {
    int32_t count = 0;
    while (count < kMostChannels && seam_.HasChannel(count)) {
      ++count;
    }
    SetChannel(count - 1);
  } else {
    SetChannel(SaturateToInt32(static_cast<int64_t>(s_.PiPTVChannel) - 1));
  }
}

void ChannelCommands::SwapChannels() {
  const int32_t host = seam_.HostPosition();
  if (host < kSourceNone || s_.PiPChannelOrder < kSourceNone) {
    return;
  }
  const int32_t old = s_.PiPChannelOrder;
  SetChannel(host);
  TellHostChannel(old);
}

void ChannelCommands::TellHostChannel(int32_t position) {
  if (position >= 0) {
    seam_.TellHost(position);
  }
}

}  // namespace kvx
