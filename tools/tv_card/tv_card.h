// The virtual TV card as its users see it: the DLL's name and exports, the four devices' class
// identifiers, categories, names and device paths, the fault switches and the error codes the
// faults produce. Tests and demo programs include this header; the card's own code does too.
//
// Everything here is constant and may be used on any thread.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <string>

namespace tvcard {

inline constexpr wchar_t kDllName[] = L"KvxTvCard.dll";
// LONG STDAPICALLTYPE KvxTvCardLiveObjects(): the card's COM objects, pins and card states alive.
inline constexpr char kLiveObjectsExport[] = "KvxTvCardLiveObjects";
using LiveObjectsFunction = LONG(STDAPICALLTYPE*)();
// HRESULT STDAPICALLTYPE KvxTvCardLastSetFormat(AM_MEDIA_TYPE* type): a copy, in caller-owned
// fields, of the last media type any pin received in IAMStreamConfig::SetFormat, format block
// as received; S_FALSE when none came yet.
inline constexpr char kLastSetFormatExport[] = "KvxTvCardLastSetFormat";
using LastSetFormatFunction = HRESULT(STDAPICALLTYPE*)(AM_MEDIA_TYPE* type);

// DllRegisterServer registers this many cards; they differ only in their device paths.
inline constexpr int kCardCount = 2;
// Under uvc, a USB grabber as well: a capture device alone, whose card state is this one's.
inline constexpr int kUsbCard = 3;
inline constexpr int kLastCard = kUsbCard;
inline constexpr wchar_t kUsbFriendlyName[] = L"KVX Virtual USB Grabber";
// Shaped as the USB Video Class driver's paths are: the interface of a composite device, then
// the capture category and the "global" reference string.
inline constexpr wchar_t kUsbDevicePath[] =
    L"\\\\?\\usb#vid_1d6b&pid_0102&mi_00#7&2f3c1a0&0&0000#"
    L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

enum class Role { kTuner, kTvAudio, kCrossbar, kCapture };
inline constexpr Role kRoles[] = {Role::kTuner, Role::kTvAudio, Role::kCrossbar, Role::kCapture};

inline constexpr CLSID kClsidTuner = {
    0xE3C6B848, 0x1585, 0x4C11, {0x96, 0x57, 0x2C, 0xAA, 0xAF, 0xA5, 0x2B, 0x72}};
inline constexpr CLSID kClsidTvAudio = {
    0x6167CCBD, 0xEA4A, 0x45CB, {0x98, 0xDD, 0x61, 0x40, 0xC7, 0x6A, 0x68, 0x3B}};
inline constexpr CLSID kClsidCrossbar = {
    0x6C39A6E8, 0x1971, 0x4472, {0x95, 0x2C, 0x99, 0x81, 0x97, 0xF8, 0xE8, 0x9E}};
inline constexpr CLSID kClsidCapture = {
    0x50BA8DB5, 0xE0B8, 0x4165, {0xB0, 0x31, 0x90, 0xF7, 0xFC, 0x7A, 0xA6, 0x0A}};
// The capture device's one property page.
inline constexpr CLSID kClsidDecoderPage = {
    0x815557C8, 0x0F1B, 0x47CB, {0x92, 0xC2, 0x2B, 0x7E, 0x92, 0x42, 0xE0, 0x2E}};

inline const CLSID& ClassOf(Role role) {
  switch (role) {
    case Role::kTuner:
      return kClsidTuner;
    case Role::kTvAudio:
      return kClsidTvAudio;
    case Role::kCrossbar:
      return kClsidCrossbar;
    case Role::kCapture:
      break;
  }
  return kClsidCapture;
}

inline const GUID& CategoryOf(Role role) {
  switch (role) {
    case Role::kTuner:
      return AM_KSCATEGORY_TVTUNER;
    case Role::kTvAudio:
      return AM_KSCATEGORY_TVAUDIO;
    case Role::kCrossbar:
      return AM_KSCATEGORY_CROSSBAR;
    case Role::kCapture:
      break;
  }
  return CLSID_VideoInputDeviceCategory;
}

// The same for every card, as with two boards of one make.
inline const wchar_t* FriendlyNameOf(Role role) {
  switch (role) {
    case Role::kTuner:
      return L"KVX Virtual TV Tuner";
    case Role::kTvAudio:
      return L"KVX Virtual TV Audio";
    case Role::kCrossbar:
      return L"KVX Virtual Crossbar";
    case Role::kCapture:
      break;
  }
  return L"KVX Virtual Video Capture";
}

inline const wchar_t* KeyOf(Role role) {
  switch (role) {
    case Role::kTuner:
      return L"tuner";
    case Role::kTvAudio:
      return L"tvaudio";
    case Role::kCrossbar:
      return L"crossbar";
    case Role::kCapture:
      break;
  }
  return L"capture";
}

// Shaped like a kernel-streaming device path; card is 1 to kCardCount. The device-instance part,
// everything before "#{category}", is the same for a card's four devices; a replugged card has
// another one, as a USB device plugged into another port.
inline std::wstring DevicePath(int card, Role role, bool replugged = false) {
  wchar_t category[40];
  StringFromGUID2(CategoryOf(role), category, 40);
  for (wchar_t& c : category) {
    c = static_cast<wchar_t>(towlower(c));
  }
  std::wstring number = std::to_wstring(card);
  number.insert(0, number.size() < 4 ? 4 - number.size() : 0, L'0');
  return L"\\\\?\\root#kvx_tvcard#" + (replugged ? L"7&" + number + L"&2" : number) + L"#" +
         category + L"\\" + KeyOf(role);
}

// Card 2's devices under dual-set: card 1's instance part, told apart from card 1's devices by
// the reference string alone ("tuner2" after "tuner"), as a board whose one function carries
// two tuner, crossbar and capture sets.
inline std::wstring DualSetPath(Role role) {
  return DevicePath(1, role) + L"2";
}

// The name of the card's key under each category's Instance key.
inline std::wstring InstanceName(int card) {
  return L"KvxTvCard" + std::to_wstring(card);
}

// Fault switches: the environment variable holds a comma-separated list of these names. Each
// switch is read when the behaviour it changes happens (in brackets where it is not obvious), so
// a test sets the variable before that moment. One line each:
inline constexpr wchar_t kFaultVariable[] = L"KVX_TVCARD_FAULTS";
namespace fault {
// Creating any filter of the card fails (class factory), or only the named device's.
inline constexpr wchar_t kCreate[] = L"fail-create";
inline constexpr wchar_t kCreateTuner[] = L"fail-create-tuner";
inline constexpr wchar_t kCreateTvAudio[] = L"fail-create-tvaudio";
inline constexpr wchar_t kCreateCrossbar[] = L"fail-create-crossbar";
inline constexpr wchar_t kCreateCapture[] = L"fail-create-capture";
// The capture filter is created without its "Preview" pin.
inline constexpr wchar_t kNoPreview[] = L"no-preview";
// IAMStreamConfig::SetFormat refuses every format.
inline constexpr wchar_t kRefuseSetFormat[] = L"refuse-setformat";
// DllRegisterServer writes the device entries without "DevicePath", or without "FriendlyName".
inline constexpr wchar_t kNoDevicePath[] = L"no-devicepath";
inline constexpr wchar_t kNoFriendlyName[] = L"no-friendlyname";
// DllRegisterServer adds to each category a device whose property bag cannot read its texts.
inline constexpr wchar_t kUnreadableDevice[] = L"unreadable-device";
// Until a format is set, the output pins offer only RGB32, which the PiP Renderer refuses.
inline constexpr wchar_t kTypesAfterFormat[] = L"types-after-format";
// The "Preview" pin refuses every connection.
inline constexpr wchar_t kPreviewRefuses[] = L"preview-refuses";
// The "Preview" pin's IAMStreamConfig::GetFormat fails.
inline constexpr wchar_t kFailPreviewFormat[] = L"fail-preview-format";
// IAMStreamConfig::GetNumberOfCapabilities reports capabilities of 64 bytes.
inline constexpr wchar_t kShortCaps[] = L"short-caps";
// The UYVY capabilities come in FORMAT_VideoInfo2 and the RGB24 ones as RGB32.
inline constexpr wchar_t kForeignCaps[] = L"foreign-caps";
// An unconnected pin's current format (GetFormat) is a FORMAT_VideoInfo2 block.
inline constexpr wchar_t kCurrentVideoInfo2[] = L"current-vih2";
// The tuner knows only FM radio (read when the card's first filter is created).
inline constexpr wchar_t kNoTvMode[] = L"no-tv-mode";
// Every tuner property call fails, or only those of one property.
inline constexpr wchar_t kTunerFails[] = L"fail-tuner";
inline constexpr wchar_t kTunerCapsFails[] = L"fail-tuner-caps";
inline constexpr wchar_t kTunerModeCapsFails[] = L"fail-tuner-modecaps";
inline constexpr wchar_t kTunerModeFails[] = L"fail-tuner-mode";
inline constexpr wchar_t kTunerFrequencyFails[] = L"fail-tuner-frequency";
inline constexpr wchar_t kTunerInputFails[] = L"fail-tuner-input";
// The tuner's TV mode reports the driver-tunes strategy: it wants fine tuning requests.
inline constexpr wchar_t kDriverTunes[] = L"driver-tunes";
// IAMCrossbar::Route fails.
inline constexpr wchar_t kRouteFails[] = L"fail-route";
// The crossbar's video output is no video decoder.
inline constexpr wchar_t kNoDecoderOutput[] = L"no-decoder-output";
// The crossbar's S-Video input is a second composite input.
inline constexpr wchar_t kTwinComposite[] = L"twin-composite";
// IAMCrossbar::get_IsRoutedTo fails.
inline constexpr wchar_t kRouteQueryFails[] = L"fail-route-query";
// While one capture filter of a card runs, another cannot pause or run (read at Pause).
inline constexpr wchar_t kBusy[] = L"busy";
// After kLostAfterFrames frames EC_DEVICE_LOST (lParam2 0); the filter never pauses again (Run).
inline constexpr wchar_t kLost[] = L"lost";
// As lost, and back kReturnAfterMs later: EC_DEVICE_LOST with lParam2 1, a new filter runs (Run).
inline constexpr wchar_t kLostReturn[] = L"lost-return";
// From frame kStallFrame the capture pins deliver nothing for kStallMs, without an event (Run).
inline constexpr wchar_t kStall[] = L"stall";
// DllRegisterServer registers card 1 alone under another instance part: DevicePath(1, role, true).
inline constexpr wchar_t kReplug[] = L"replug";
// The capture filter pauses but refuses to run (read at Run).
inline constexpr wchar_t kRunFails[] = L"fail-run";
// SetFormat refuses a block whose fields disagree with its subtype and size, or an unlisted size.
inline constexpr wchar_t kStrictFormat[] = L"strict-format";
// RGB24 types carry a negative biHeight and RGB24 frames come top row first.
inline constexpr wchar_t kTopDownRgb[] = L"top-down-rgb";
// At kFormatChangeFrame the pin switches 320x240 <-> 352x288 through QueryAccept and a sample.
inline constexpr wchar_t kFormatChange[] = L"format-change";
// As lost-return, but the first Run after the device is back fails, as while firmware loads.
inline constexpr wchar_t kSlowReturn[] = L"slow-return";
// At frame kErrorAbortFrame EC_ERRORABORT (kDeviceFailure); a capture filter made anew streams.
inline constexpr wchar_t kErrorAbort[] = L"error-abort";
// Frame rates per size (kRateLimits) and a size granularity; SetFormat refuses blocks outside.
inline constexpr wchar_t kRateLimits[] = L"rate-limits";
// The pins answer IKsPin with kernel-streaming mediums that join one card's devices (pins.h).
inline constexpr wchar_t kMediums[] = L"mediums";
// DllRegisterServer registers card 2 under card 1's instance part: DualSetPath(role).
inline constexpr wchar_t kDualSet[] = L"dual-set";
// DllRegisterServer adds the USB grabber (kUsbDevicePath): one "Capture" pin listing MJPG at
// 1920x1080, 1280x720 and 640x480, YUY2 at 640x480 and 720x576, NV12 at 640x480, each size
// alone; SetFormat refuses anything else, MJPG never connects; it shows the composite input.
inline constexpr wchar_t kUvc[] = L"uvc";
// The USB grabber lists NV12 and I420 at 640x480 only.
inline constexpr wchar_t kNv12Only[] = L"nv12-only";
// Every capture filter's Pause and Run return E_ACCESSDENIED, as where Windows' privacy
// settings keep the camera from desktop programs.
inline constexpr wchar_t kDenyAccess[] = L"deny-access";
}  // namespace fault

// The 25th frame, one second into the stream.
inline constexpr int kFormatChangeFrame = 24;

inline constexpr int kLostAfterFrames = 5;
inline constexpr DWORD kReturnAfterMs = 2000;
inline constexpr int kStallFrame = 24;
inline constexpr int kErrorAbortFrame = 24;
inline constexpr DWORD kStallMs = 4000;

// Results of the faults.
inline constexpr HRESULT kDeviceFailure = static_cast<HRESULT>(0x8007001F);  // ERROR_GEN_FAILURE
inline constexpr HRESULT kDeviceBusy = static_cast<HRESULT>(0x800700AA);     // ERROR_BUSY
// ERROR_DEVICE_NOT_CONNECTED: a lost capture filter cannot be paused or run again.
inline constexpr HRESULT kDeviceGone = static_cast<HRESULT>(0x8007048F);

}  // namespace tvcard
