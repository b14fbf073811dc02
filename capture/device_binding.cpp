#include "capture/device_binding.h"

namespace kvx {
namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) {
      return false;
    }
  }
  return true;
}

int NameCount(const DeviceList& list, std::string_view name) {
  int count = 0;
  for (size_t row = 1; row < list.size(); ++row) {
    count += list[row].name == name ? 1 : 0;
  }
  return count;
}

// "\\?\usb#vid_0bda&pid_5850&mi_00#6&2c1c2e17&0&0000#{...}\global": the text from the bus to the
// hardware id's end, "usb#vid_0bda&pid_5850&mi_00"; empty for a path of another shape.
std::string_view HardwareOf(std::string_view path) {
  const std::string_view instance = DeviceInstance(path);
  const size_t idEnd = instance.rfind('#');
  if (idEnd == std::string_view::npos) {
    return {};
  }
  std::string_view hardware = instance.substr(0, idEnd);
  const size_t prefixEnd = hardware.find("\\?\\");
  if (prefixEnd != std::string_view::npos) {
    hardware.remove_prefix(prefixEnd + 3);
  }
  return hardware.find('#') == std::string_view::npos ? std::string_view() : hardware;
}

}  // namespace

BindDecision ChooseDevice(const DeviceList& list, const SavedDevice& saved) {
  if (saved.path.empty()) {
    return {};
  }
  for (size_t row = 1; row < list.size(); ++row) {
    if (list[row].path == saved.path) {
      return {BindReason::kByPath, static_cast<int>(row)};
    }
  }
  if (!saved.nameWasUnique) {
    return {BindReason::kHadNamesake, -1};
  }
  int found = -1;
  int count = 0;
  for (size_t row = 1; row < list.size(); ++row) {
    if (list[row].name == saved.name) {
      found = static_cast<int>(row);
      ++count;
    }
  }
  if (count == 0) {
    return {BindReason::kNameGone, -1};
  }
  if (count > 1) {
    return {BindReason::kNameShared, -1};
  }
  if (!SameHardware(list[static_cast<size_t>(found)].path, saved.path)) {
    return {BindReason::kOtherHardware, -1};
  }
  return {BindReason::kByName, found};
}

std::string_view BindReasonText(BindReason reason) {
  switch (reason) {
    case BindReason::kByName:
      return "Device found by its name ... ";
    case BindReason::kHadNamesake:
      return "Device not bound by its name: another device had the name when it was chosen ... ";
    case BindReason::kNameGone:
      return "Device not found, neither by its path nor by its name ... ";
    case BindReason::kNameShared:
      return "Device not bound by its name: several devices have the name ... ";
    case BindReason::kOtherHardware:
      return "Device not bound by its name: the device of that name is other hardware ... ";
    case BindReason::kNotChosen:
    case BindReason::kByPath:
      break;
  }
  return {};
}

bool NameUnique(const DeviceList& list, std::string_view name) {
  return NameCount(list, name) == 1;
}

std::string_view DeviceInstance(std::string_view path) {
  const size_t at = path.rfind("#{");
  return at == std::string_view::npos ? std::string_view() : path.substr(0, at);
}

bool SameDeviceInstance(std::string_view a, std::string_view b) {
  const std::string_view x = DeviceInstance(a);
  return !x.empty() && SameLetters(x, DeviceInstance(b));
}

bool SameHardware(std::string_view a, std::string_view b) {
  const std::string_view x = HardwareOf(a);
  return !x.empty() && SameLetters(x, HardwareOf(b));
}

bool Rebinding::Any() const {
  for (const std::string& p : path) {
    if (!p.empty()) {
      return true;
    }
  }
  return false;
}

bool RebindingIsOneCard(const Rebinding& rebound, const DeviceList (&lists)[kDeviceKindCount]) {
  std::string_view first;
  for (const std::string& p : rebound.path) {
    if (p.empty()) {
      continue;
    }
    if (first.empty()) {
      first = p;
    } else if (!SameDeviceInstance(first, p)) {
      return false;
    }
  }
  if (first.empty() || DeviceInstance(first).empty()) {
    return false;
  }
  for (const DeviceList& list : lists) {
    for (size_t row = 1; row < list.size(); ++row) {
      if (SameDeviceInstance(list[row].path, first) && !NameUnique(list, list[row].name)) {
        return false;
      }
    }
  }
  return true;
}

int SameCardRow(const DeviceList& list, const DeviceList& captures, std::string_view capturePath) {
  if (DeviceInstance(capturePath).empty()) {
    return -1;
  }
  int place = 0;
  for (size_t row = 1; row < captures.size() && captures[row].path != capturePath; ++row) {
    place += SameDeviceInstance(captures[row].path, capturePath) ? 1 : 0;
  }
  int first = -1;
  int seen = 0;
  for (size_t row = 1; row < list.size(); ++row) {
    if (!SameDeviceInstance(list[row].path, capturePath)) {
      continue;
    }
    if (seen++ == place) {
      return static_cast<int>(row);
    }
    first = first < 0 ? static_cast<int>(row) : first;
  }
  return first;
}

}  // namespace kvx
