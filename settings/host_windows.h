// Finds the host's main window and video window by class and title.
//
// Threads: called by Start on the host's thread; the handles it stores are read by the hooks on
// the thread of the host's main window.
#pragma once

namespace kvx {

void FindHostWindows();

}  // namespace kvx
