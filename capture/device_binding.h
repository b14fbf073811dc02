// Which listed device a saved choice binds, and when a device found by its name may be kept in
// the settings. Portable; FindDevice (capture/device_list.h) applies the rules to the system's
// device lists, the graph build (capture/capture_graph.h) to the four of a card.
//
// A device is identified by its device path. A path can change (a USB device in another port)
// while the friendly name stays, but a name says which device it is only when no other device
// had it when the user chose: two cards of one make share every name, and the other card is
// most often the host's own. So a choice is bound by its name only when its name was unique on
// the device page, is unique now, and names a device of the same hardware.
//
// Threads: whichever thread builds the graph or runs the device page; no state of its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvx {

// Names and paths are Windows-1251 bytes, as the settings file keeps them.
struct DeviceEntry {
  std::string name;
  std::string path;  // empty in the first row, "< None >"

  bool operator==(const DeviceEntry&) const = default;
};
using DeviceList = std::vector<DeviceEntry>;

inline constexpr char kNoDeviceName[] = "< None >";

enum class DeviceKind { kTuner, kTvAudio, kCrossbar, kCapture };
inline constexpr int kDeviceKindCount = 4;

struct SavedDevice {
  std::string_view name;
  std::string_view path;
  // No other listed device had the name when the user chose this one.
  bool nameWasUnique = false;
};

enum class BindReason {
  kNotChosen,      // no saved path
  kByPath,         // the saved path is listed
  kByName,         // the path is gone; the name is the device's own
  kHadNamesake,    // the path is gone; another device had the name when it was chosen
  kNameGone,       // the path is gone and no device has the name
  kNameShared,     // the path is gone and several devices have the name now
  kOtherHardware,  // the path is gone; the one device of that name is another make
};

struct BindDecision {
  BindReason reason = BindReason::kNotChosen;
  int row = -1;  // the list's row bound, or -1
};

// The row of list (as FindDevice fills it, "< None >" first) that the saved choice binds.
BindDecision ChooseDevice(const DeviceList& list, const SavedDevice& saved);
// The log's words for a decision that bound nothing although a device was chosen, or for one
// bound by name; empty for the others.
std::string_view BindReasonText(BindReason reason);

// Whether no other listed device has this device's name.
bool NameUnique(const DeviceList& list, std::string_view name);

// The device-instance part of a device path, which the devices of one card share: everything
// before the category's "#{". Empty for a path without one.
std::string_view DeviceInstance(std::string_view path);
// Whether two device paths belong to the same device instance (letter case aside).
bool SameDeviceInstance(std::string_view a, std::string_view b);
// Whether two device paths name the same kind of hardware: the same bus and hardware id (the
// parts before the instance id, "usb#vid_0bda&pid_5850&mi_00"), letter case aside.
bool SameHardware(std::string_view a, std::string_view b);

// The devices bound by their names in a build, per kind: the saved path that was gone and the
// path bound instead; empty for the kinds bound otherwise.
struct Rebinding {
  std::string from[kDeviceKindCount];
  std::string path[kDeviceKindCount];
  // The graph built from them ran.
  bool ran = false;
  bool Any() const;
};
// Whether the devices re-bound by name may replace the saved paths: all of them belong to one
// device instance, and no listed device of that instance shares its name with another device,
// so the instance cannot be the other card of a pair.
bool RebindingIsOneCard(const Rebinding& rebound, const DeviceList (&lists)[kDeviceKindCount]);

// The row of `list` that belongs with the chosen capture device by the device-instance rule:
// among the rows of the capture device's instance, the one at the capture device's place
// among its instance's capture devices (a board with two sets lists them in the same order in
// every category), else that instance's first; -1 when the list has none of it.
int SameCardRow(const DeviceList& list, const DeviceList& captures, std::string_view capturePath);

}  // namespace kvx
