// The host's channel list: real analog PAL/SECAM channels. buildChannels runs on the UI thread
// before any plug-in loads; afterwards the list never changes, so getChannel answers any thread.
#pragma once

#include <cstdint>

#include "plugin/host_records.h"

namespace zhost {

struct ChannelInfo {
  const wchar_t* label;  // band channel, e.g. "R1" or "UHF 21"
  const wchar_t* name;
  uint32_t frequency;  // vision carrier, Hz
  int32_t standard;    // 0 none, 1 SECAM, 2 PAL
};

void buildChannels();
int channelCount();
const ChannelInfo& channelInfo(int position);
const wchar_t* standardName(int32_t standard);

// The host callback handed to Init: null for positions outside the list.
kvx::HostChannel* KVX_CDECL getChannel(int32_t position);

}  // namespace zhost
