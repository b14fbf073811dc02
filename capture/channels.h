// The PiP card's channel commands on the module-wide settings, the capture graph and the host:
// what the hotkeys, the mouse hook and the settings dialog fire (see capture/channel_logic.h
// for their rules).
//
// Threads: Init and Start (RebuildGraph, Start's own SetChannel) on the host's thread; the
// hooks and the settings dialog on the host's user-interface thread. Each command holds the
// capture graph's lock, so a command from one thread never meets a rebuild on another.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kvx {

HRESULT SetChannel(int32_t position);
void NextChannel();
void PrevChannel();
void SwapChannels();
// Posts the host's tune command for position to its main window; nothing for a position below
// 0 or while the host's main window is unknown.
void TellHostChannel(int32_t position);

}  // namespace kvx
