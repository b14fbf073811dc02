// The records Zorvinta and the plug-in exchange, laid out byte for byte as the host builds them.
//
// The host is a 32-bit program; the offsets it fixes are those of the 32-bit build. The 64-bit
// build (tested under Wine) keeps every record's field order and widens each pointer-sized field
// to 8 bytes:
//   - PluginDescriptor: 8 pointer-sized fields (32 bytes in 32-bit, 64 bytes in 64-bit);
//   - HostCallbacks: 2 pointer-sized words;
//   - HostFrame: the pixel pointer in word 0 and the HostChannelState pointer in word 11,
//     byte 44 in 32-bit and byte 88 in 64-bit;
//   - HostStream, HostChannelState and HostChannel hold no pointers we read and are the same in
//     both: HostChannel's frequency at byte 76 and standard at byte 80.
// The plug-in reads only the fields named here; the rest belongs to the host.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define KVX_CDECL __cdecl
#else
#define KVX_CDECL
#endif

namespace kvx {

// One channel of the host's list, owned by the host and only read here.
struct HostChannel {
  uint8_t hostOwned[76];
  uint32_t frequency;  // tuning frequency in Hz
  int32_t standard;    // 0 = the plug-in's VideoSystem applies; 1..5 = VideoSystem codes 1..5
};

// Takes a 0-based channel position; null when the position lies beyond the host's last channel.
using GetChannelFn = HostChannel*(KVX_CDECL*)(int32_t position);

// Argument of Init.
struct HostCallbacks {
  GetChannelFn getChannel;
  void* reserved;  // kept for the plug-in's lifetime, never used
};

// Argument of Start. The plug-in copies width, height, format and mode.
struct HostStream {
  int32_t width;
  int32_t height;
  int32_t reserved;
  int32_t format;  // 0 = YUY2 rows top-down, 1 = RGB24 rows bottom-up
  int32_t mode;    // 1 or 2: frames are left untouched
};

// Source positions shared by the host's state and the PiP settings.
inline constexpr int32_t kSourceNone = -1;
inline constexpr int32_t kSourceComposite = -2;  // "VHS"
inline constexpr int32_t kSourceSVideo = -3;     // "S-VHS"

struct HostChannelState {
  int32_t stamp1;
  int32_t stamp2;
  int32_t position;  // channel position >= 0, or one of the kSource values
};

// Argument of Frame.
struct HostFrame {
  uint8_t* pixels;  // changed in place; null = no frame
  uintptr_t hostOwned[10];
  HostChannelState* channelState;  // valid whenever pixels is not null
};

using InitFn = void(KVX_CDECL*)(HostCallbacks* callbacks);
using StartFn = int32_t(KVX_CDECL*)(HostStream* stream);
using FrameFn = int32_t(KVX_CDECL*)(HostFrame* frame);
using StopFn = void(KVX_CDECL*)();
using ShowSettingsFn = void(KVX_CDECL*)(void* parentWindow);  // points to the parent's HWND
using DoneFn = void(KVX_CDECL*)();

struct PluginDescriptor {
  const char* name;       // Windows-1251 text
  const char* shortName;  // Windows-1251 text
  InitFn init;
  StartFn start;
  FrameFn frame;
  StopFn stop;
  ShowSettingsFn showSettings;
  DoneFn done;
};

using PluginVersionFn = int32_t(KVX_CDECL*)();
using PluginDescriptorFn = const PluginDescriptor*(KVX_CDECL*)();

inline constexpr int32_t kPluginInterfaceVersion = 3;
inline constexpr int32_t kHostFormatYuy2 = 0;
inline constexpr int32_t kHostFormatRgb24 = 1;

// Window messages between the plug-in, the host and the plug-in's settings dialog.
inline constexpr uint32_t kWmUser = 0x0400;
inline constexpr uint32_t kWmHostCommand = kWmUser + 200;  // to the host's main window
inline constexpr uint32_t kHostCommandTuneChannel = 1225;  // lParam = channel position + 1
inline constexpr uint32_t kHostCommandQuery = 1309;        // sent at every Start
inline constexpr uint32_t kWmPipUpdate = kWmUser + 400;    // to the plug-in's settings dialog

constexpr size_t kWord = sizeof(void*);
static_assert(sizeof(HostStream) == 20);
static_assert(offsetof(HostStream, format) == 12);
static_assert(offsetof(HostStream, mode) == 16);
static_assert(sizeof(HostChannelState) == 12);
static_assert(offsetof(HostChannel, frequency) == 76);
static_assert(offsetof(HostChannel, standard) == 80);
static_assert(offsetof(HostCallbacks, getChannel) == 0);
static_assert(sizeof(HostCallbacks) == 2 * kWord);
static_assert(offsetof(HostFrame, pixels) == 0);
static_assert(offsetof(HostFrame, channelState) == 11 * kWord);
static_assert(sizeof(PluginDescriptor) == 8 * kWord);
static_assert(offsetof(PluginDescriptor, init) == 2 * kWord);
static_assert(offsetof(PluginDescriptor, done) == 7 * kWord);
#if defined(_WIN32) && !defined(_WIN64)
// The host's own 32-bit layout.
static_assert(offsetof(HostFrame, channelState) == 44);
static_assert(offsetof(PluginDescriptor, start) == 12);
static_assert(offsetof(PluginDescriptor, frame) == 16);
static_assert(offsetof(PluginDescriptor, stop) == 20);
static_assert(offsetof(PluginDescriptor, showSettings) == 24);
static_assert(offsetof(PluginDescriptor, done) == 28);
static_assert(sizeof(PluginDescriptor) == 32);
static_assert(sizeof(HostCallbacks) == 8);
#endif

}  // namespace kvx
