// The mouse and keyboard hooks on the host's user-interface thread.
//
// Threads: installed by Start and removed by Stop, on the host's thread that calls them; the
// hook procedures run on the thread of the host's main window.
#pragma once

namespace kvx {

void InstallMouseHook();
void RemoveMouseHook();
void InstallKeyboardHook();
void RemoveKeyboardHook();
// Drops both handles without removing the hooks (every Start installs afresh).
void ForgetHookHandles();

}  // namespace kvx
