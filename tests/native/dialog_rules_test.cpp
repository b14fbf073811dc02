// Where the settings dialog opens, and what its Cancel keeps.
#include "ui/dialog_rules.h"

#include "capture/device_binding.h"

#include <gtest/gtest.h>

namespace kvx {
namespace {

TEST(DialogPosition, UsesTheStoredCornerOnTheScreenElseCentresOnTheHostAndStaysOnScreen) {
  // A 1024x768 screen and a 300x200 dialog created at 10,10.
  const ScreenRect dialog{10, 10, 310, 210};
  const struct {
    DialogPos stored;
    ScreenRect host;
    ScreenPoint expected;
  } cases[] = {
      {{-100, -100}, {100, 100, 701, 501}, {250, 200}},   // never placed: centred, rounded down
      {{-100, 5}, {100, 100, 700, 500}, {-100, 5}},       // only both -100 mean never placed
      {{-50, 700}, {100, 100, 700, 500}, {-50, 700}},     // partly off screen, but placed
      {{1024, 10}, {100, 100, 700, 500}, {250, 200}},     // beyond the right edge
      {{10, 768}, {100, 100, 700, 500}, {250, 200}},      // beyond the bottom edge
      {{-100, -100}, {900, 700, 1200, 900}, {724, 568}},  // centred past the edges: pulled in
      {{-100, -100}, {-400, -300, -100, -100}, {0, 0}},   // a host off the top left
      {{-100, -100}, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, {0, 0}},
  };
  for (const auto& c : cases) {
    const ScreenPoint at = DialogPosition(c.stored, 1024, 768, dialog, c.host);
    EXPECT_EQ(at.x, c.expected.x) << c.stored.x << "," << c.host.left;
    EXPECT_EQ(at.y, c.expected.y) << c.stored.y << "," << c.host.top;
  }
}

TEST(TenthsText, ShowsTenthsOfAPercentWithOneDecimalAndAPoint) {
  const std::pair<int32_t, const char*> cases[] = {{0, "0.0"},    {1000, "100.0"},
                                                   {650, "65.0"}, {7, "0.7"},
                                                   {-5, "-0.5"},  {INT32_MIN, "-214748364.8"}};
  for (const auto& [tenths, text] : cases) {
    EXPECT_EQ(TenthsText(tenths), text);
  }
}

TEST(CancelDialogChanges, RestoresTheSnapshotButKeepsTheAppliedDevicesAndTheLiveSource) {
  SettingsStore store;
  store.current = PipSettings::Defaults();
  store.current.CaptureDevicePath = "opened with";
  store.Snapshot();
  store.current.Opacity = 7;
  store.current.HK_PiPOnOff = 0;
  store.current.CaptureDevicePath = "applied";
  DeviceSelection applied;
  applied.TakeFrom(store.current);
  store.current.CaptureDevicePath = "picked, not applied";
  store.current.StreamSize = 1;
  store.current.PiPChannelOrder = 3;
  store.current.PiPTVChannel = 4;
  CancelDialogChanges(store, applied);
  PipSettings expected = PipSettings::Defaults();
  expected.CaptureDevicePath = "applied";
  expected.PiPChannelOrder = 3;
  expected.PiPTVChannel = 4;
  EXPECT_EQ(store.current, expected);
}

// Two cards of one make share names; their devices share the instance part of their paths.
TEST(DeviceChoice, NamesakesAreNumberedAndACardsDevicesAreFoundByTheirPaths) {
  EXPECT_EQ(
      NumberedNames({"< None >", "Tuner", "Radio", "Tuner", "Tuner", "Radio"}),
      (std::vector<std::string>{"< None >", "Tuner", "Radio", "Tuner #2", "Tuner #3", "Radio #2"}));
  // A driver that numbers its own devices: no number is shown twice.
  EXPECT_EQ(NumberedNames({"Tuner", "Tuner #2", "Tuner", "Tuner"}),
            (std::vector<std::string>{"Tuner", "Tuner #2", "Tuner #3", "Tuner #4"}));
  const std::string capture = "\\\\?\\pci#ven_109e&dev_036e#4&2&0&08f0#{65e8773d-8f56}\\global";
  const struct {
    std::string path;
    bool same;
  } cases[] = {
      {"\\\\?\\PCI#VEN_109E&DEV_036E#4&2&0&08F0#{a799a800-a46d}\\tuner", true},
      {"\\\\?\\pci#ven_109e&dev_036e#4&2&0&08f1#{a799a802-a46d}\\audio", false},
      {"\\\\?\\pci#ven_109e&dev_036e#4&2&0&08f", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameDeviceInstance(capture, c.path), c.same) << c.path;
  }
  EXPECT_FALSE(SameDeviceInstance("no instance", "no instance"));

  // A build that found a replugged device under a new path: the applied choice follows it.
  PipSettings before = PipSettings::Defaults();
  before.CaptureDevicePath = "old";
  before.TVTunerDevicePath = "tuner";
  PipSettings after = before;
  after.CaptureDevicePath = "new";
  DeviceSelection applied;
  applied.TakeFrom(before);
  applied.TVTunerDevicePath = "chosen later";
  applied.FollowRebound(before, after);
  EXPECT_EQ(applied.CaptureDevicePath, "new");
  EXPECT_EQ(applied.TVTunerDevicePath, "chosen later");
}

}  // namespace
}  // namespace kvx
