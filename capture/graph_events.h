// The capture graph's events, read on the thread that builds the graph: a device that went away
// (EC_DEVICE_LOST), or a stream that ended in an error (EC_ERRORABORT, EC_STREAM_ERROR_STOPPED),
// and the device coming back (EC_DEVICE_LOST with lParam2 1, or its device path arriving in
// WM_DEVICECHANGE). The graph posts to a message-only window of ours, whose messages the
// thread's own message loop dispatches; nothing waits for an event, and the frame thread takes
// no part.
//
// Threads: WatchGraphEvents and StopWatchingGraphEvents run under GraphLock on the thread that
// builds and tears down the graph, which creates the window on first use and must be the one
// that calls CloseGraphEvents (Done). The events are handled on that thread too.
#pragma once

#include <windows.h>

namespace kvx {

// After a successful build: the graph's events go to the window from now on.
void WatchGraphEvents();
// Before a tear-down: the graph posts nothing more.
void StopWatchingGraphEvents();
// Done: the window goes, with its device notification.
void CloseGraphEvents();

// For tests: the window that receives the events and device arrivals; null before the first
// build.
HWND GraphEventWindowForTesting();

}  // namespace kvx
