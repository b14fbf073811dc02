// Finds the host's main window and video window by class and title, under the titles of the
// host instance named on its command line, and sends the main window the host's query.
//
// Threads: called by Start on the host's thread; the handles it stores in SettingsStore are
// read by the hooks on the thread of the host's main window.
#pragma once

namespace kvx {

// Sets MainWindow, VideoFrameWindow and VideoWindow; null for what is not found.
void FindHostWindows();

}  // namespace kvx
