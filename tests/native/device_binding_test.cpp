// When a saved device is bound by its path, by its name, or not at all; when devices found by
// their names may replace the saved paths; which row of a list belongs to a capture device's card.
#include "capture/device_binding.h"

#include <gtest/gtest.h>

namespace kvx {
namespace {

// Paths shaped as the system gives them: bus, hardware id, instance id, interface class.
const std::string kUsb1 = "\\\\?\\usb#vid_0bda&pid_5850&mi_00#6&2c1c2e17&0&0000#{65e8773d}\\global";
const std::string kUsb1Port2 = "\\\\?\\USB#VID_0BDA&PID_5850&MI_00#7&aa&0&0001#{65e8773d}\\global";
const std::string kOtherMake = "\\\\?\\usb#vid_1b3f&pid_2002&mi_00#6&11&0&0000#{65e8773d}\\global";

TEST(DeviceBinding, APathBindsItsDeviceAndANameOnlyOneThatCannotBeAnotherDevice) {
  const DeviceList none = {{kNoDeviceName, ""}};
  const DeviceList moved = {{kNoDeviceName, ""}, {"USB Video", kUsb1Port2}};
  const DeviceList twins = {{kNoDeviceName, ""}, {"USB Video", kUsb1Port2}, {"USB Video", kUsb1}};
  const DeviceList otherMake = {{kNoDeviceName, ""}, {"USB Video", kOtherMake}};
  const struct {
    const DeviceList* list;
    std::string path;
    bool unique;
    BindReason reason;
    int row;
  } cases[] = {
      {&twins, "", true, BindReason::kNotChosen, -1},
      {&twins, kUsb1, false, BindReason::kByPath, 2},
      {&moved, kUsb1, true, BindReason::kByName, 1},
      {&moved, kUsb1, false, BindReason::kHadNamesake, -1},  // it may be the host's own card
      {&twins, "\\\\?\\usb#gone#1#{65e8773d}", true, BindReason::kNameShared, -1},
      {&none, kUsb1, true, BindReason::kNameGone, -1},
      {&otherMake, kUsb1, true, BindReason::kOtherHardware, -1},
      // A path of no known shape says nothing of its hardware.
      {&moved, "\\\\?\\odd", true, BindReason::kOtherHardware, -1},
      // Paths are matched exactly: letter case is part of a path.
      {&moved, kUsb1Port2.substr(0, 10) + "x" + kUsb1Port2.substr(11), false,
       BindReason::kHadNamesake, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const BindDecision d = ChooseDevice(*c.list, SavedDevice{"USB Video", c.path, c.unique});
    EXPECT_EQ(d.reason, c.reason);
    EXPECT_EQ(d.row, c.row);
    EXPECT_EQ(BindReasonText(d.reason).empty(),
              c.reason == BindReason::kNotChosen || c.reason == BindReason::kByPath);
  }
  EXPECT_TRUE(SameHardware(kUsb1, kUsb1Port2));
  EXPECT_FALSE(SameHardware(kUsb1, kOtherMake));
  EXPECT_FALSE(SameHardware("", ""));
}

TEST(DeviceBinding, DevicesFoundByNameAreSavedOnlyWhenTheyAreOneCardsAlone) {
  const std::string card = "\\\\?\\pci#ven_109e&dev_036e#4&2&0&08f0";
  const std::string other = "\\\\?\\pci#ven_109e&dev_036e#4&2&0&10f0";
  DeviceList lists[kDeviceKindCount] = {
      {{kNoDeviceName, ""}, {"Tuner", card + "#{a799a800}\\tuner"}},
      {{kNoDeviceName, ""}},
      {{kNoDeviceName, ""}, {"Crossbar", card + "#{a799a801}\\xbar"}},
      {{kNoDeviceName, ""}, {"Capture", card + "#{65e8773d}\\capture"}},
  };
  Rebinding rebound;
  EXPECT_FALSE(RebindingIsOneCard(rebound, lists));  // nothing found by name
  rebound.path[0] = lists[0][1].path;
  rebound.path[3] = lists[3][1].path;
  EXPECT_TRUE(RebindingIsOneCard(rebound, lists));
  // One of them from another instance: two cards mixed.
  rebound.path[2] = other + "#{a799a801}\\xbar";
  EXPECT_FALSE(RebindingIsOneCard(rebound, lists));
  rebound.path[2].clear();
  // A device of that instance shares its name with another: the instance may be either card.
  lists[2].push_back({"Crossbar", other + "#{a799a801}\\xbar"});
  EXPECT_FALSE(RebindingIsOneCard(rebound, lists));
}

TEST(DeviceBinding, ACardsRowIsTheOneAtTheCaptureDevicesPlaceAmongItsInstance) {
  const std::string board = "\\\\?\\pci#ven_1131&dev_7133#4&1&0&0008";
  const DeviceList captures = {{kNoDeviceName, ""},
                               {"Capture", "\\\\?\\usb#vid_1&pid_2#5&1#{65e8773d}\\cam"},
                               {"Capture", board + "#{65e8773d}\\capture"},
                               {"Capture", board + "#{65e8773d}\\capture2"}};
  const DeviceList tuners = {{kNoDeviceName, ""},
                             {"Tuner", "\\\\?\\pci#ven_109e&dev_036e#4&2#{a799a800}\\tuner"},
                             {"Tuner", board + "#{a799a800}\\tuner"},
                             {"Tuner", board + "#{a799a800}\\tuner2"}};
  EXPECT_EQ(SameCardRow(tuners, captures, captures[2].path), 2);
  EXPECT_EQ(SameCardRow(tuners, captures, captures[3].path), 3);
  EXPECT_EQ(SameCardRow(tuners, captures, captures[1].path), -1);  // a camera has no tuner
  // A second set with one tuner only: the instance's first.
  const DeviceList one = {tuners[0], tuners[2]};
  EXPECT_EQ(SameCardRow(one, captures, captures[3].path), 1);
  EXPECT_EQ(SameCardRow(tuners, captures, "no instance"), -1);
}

}  // namespace
}  // namespace kvx
