// The capture graph's events, read on the thread that builds the graph: a device that went away
// (EC_DEVICE_LOST), or a stream that ended in an error (EC_ERRORABORT, EC_STREAM_ERROR_STOPPED),
// a device arriving (EC_DEVICE_LOST with lParam2 1, or a video capture device's interface, or
// the saved capture device's path, in WM_DEVICECHANGE), the PiP Renderer refusing the samples
// of a type it cannot draw, and the timer of the tries while the graph waits for its device.
// The graph posts to a message-only window of ours, whose messages the thread's own message
// loop dispatches; nothing waits for an event, and the frame thread takes no part.
//
// Threads: WatchGraphEvents and StopWatchingGraphEvents run under GraphLock on the thread that
// builds and tears down the graph, which creates the window on first use; the events and the
// tries are handled on that thread. ScheduleDeviceTry, CancelDeviceTry and CloseGraphEvents
// may be called on any thread: the first two post to the window, and CloseGraphEvents from
// another thread has the window's own thread close it, so nothing of ours is left to be called
// once Done returns.
#pragma once

#include <windows.h>

namespace kvx {

// After a successful build: the graph's events go to the window from now on.
void WatchGraphEvents();
// Before a tear-down: the graph posts nothing more.
void StopWatchingGraphEvents();
// Done: the window goes, with its device notification and its timer.
void CloseGraphEvents();

// TryDeviceAgain (plugin/plugin.h) on the building thread in delayMs, replacing a try asked for
// before; 0 as soon as the thread gets to it. Nothing before the first build.
void ScheduleDeviceTry(unsigned delayMs);
void CancelDeviceTry();

// For tests: the window that receives the events and device arrivals; null before the first
// build.
HWND GraphEventWindowForTesting();

}  // namespace kvx
