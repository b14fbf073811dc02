// The about box: the plug-in's picture, name, version and notice. The dialog layer's defaults
// close it.
//
// Threads: the host's user-interface thread.
#pragma once

#include "ui/dialog_window.h"
#include "ui/resource_ids.h"

namespace kvx {

class AboutDialog : public DialogWindow {
 public:
  AboutDialog() : DialogWindow(IDD_ABOUT) {}
};

}  // namespace kvx
