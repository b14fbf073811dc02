// Which tuner, TV audio device and crossbar belong with a chosen capture device. Drivers of
// analog cards publish kernel-streaming mediums on their pins (IKsPin): the two ends of one wire
// on the board share a medium, whose id is the board's own, and the capture graph builder joins
// filters by them. Where the capture device publishes mediums, the devices joined to it that way
// are chosen (crossbar to capture device, tuner to crossbar, TV audio between tuner and
// crossbar); any list left without one falls back to the device-instance rule of
// capture/device_binding.h.
//
// Threads: the user-interface thread (the device page); creates the candidates' filters while
// it looks, and lets them go before it returns.
#pragma once

#include <string>

#include "capture/device_binding.h"

namespace kvx {

struct CardRows {
  int row[kDeviceKindCount] = {-1, -1, -1, -1};  // -1: the list has no device of that card
};

CardRows CardOf(const DeviceList (&lists)[kDeviceKindCount], const std::string& capturePath);

}  // namespace kvx
