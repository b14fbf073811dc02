// The settings dialog's first page: the PiP card's devices and the PiP window's shape.
//
// Threads: the host's user-interface thread.
#pragma once

#include "ui/dialog_window.h"

namespace kvx {

class DevicePage : public DialogWindow {
 public:
  DevicePage();
};

}  // namespace kvx
