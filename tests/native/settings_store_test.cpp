#include "settings/settings_store.h"

#include <gtest/gtest.h>

namespace kvx {
namespace {

HostChannel g_channels[2];

HostChannel* KVX_CDECL TwoChannels(int32_t position) {
  return position >= 0 && position < 2 ? &g_channels[position] : nullptr;
}

TEST(SettingsStore, HostWithoutLookupHasNoChannels) {
  LoadSettings(nullptr);
  EXPECT_EQ(Settings().HostChannelAt(0), nullptr);
  HostCallbacks none{nullptr, nullptr};
  LoadSettings(&none);
  EXPECT_EQ(Settings().HostChannelAt(0), nullptr);
}

TEST(SettingsStore, KeepsTheHostsCallbacks) {
  int reserved = 0;
  HostCallbacks callbacks{&TwoChannels, &reserved};
  LoadSettings(&callbacks);
  EXPECT_EQ(Settings().HostChannelAt(1), &g_channels[1]);
  EXPECT_EQ(Settings().HostChannelAt(2), nullptr);
  EXPECT_EQ(Settings().host.reserved, &reserved);
}

}  // namespace
}  // namespace kvx
