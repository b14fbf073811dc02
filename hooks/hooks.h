// The mouse and keyboard hooks on the host's user-interface thread: dragging the PiP rectangle,
// double-click swap, and the hotkeys. hooks/mouse_drag.h and hooks/hotkey_dispatch.h hold what
// they decide; this is the Windows side.
//
// Threads: Install and Remove run on the host's thread that calls Start and Stop (and on the
// user-interface thread for the hotkeys page); the hook procedures run on the thread that owns
// the host's main window.
#pragma once

namespace kvx {

// Each installs a thread-specific hook for the thread of the host's main window, replacing a
// hook of the same kind left from an earlier Start; nothing without a main window.
void InstallMouseHook();
void InstallKeyboardHook();
// Removing the mouse hook also ends a drag in progress and releases the mouse.
void RemoveMouseHook();
void RemoveKeyboardHook();

}  // namespace kvx
