#include "hooks/hotkey_dispatch.h"

#include "hooks/pip_rect.h"

namespace kvx {
namespace {

constexpr uint32_t kVkShift = 0x10;
constexpr uint32_t kVkControl = 0x11;
constexpr uint32_t kVkMenu = 0x12;

uint32_t ModifierOf(uint32_t virtualKey) {
  switch (virtualKey) {
    case kVkShift:
      return kHotkeyShift;
    case kVkControl:
      return kHotkeyControl;
    case kVkMenu:
      return kHotkeyAlt;
    default:
      return 0;
  }
}

bool NeedsCrossbar(HotkeyCommand command) {
  switch (command) {
    case HotkeyCommand::kNextChannel:
    case HotkeyCommand::kPrevChannel:
    case HotkeyCommand::kSetChannel:
    case HotkeyCommand::kSetTVChannel:
    case HotkeyCommand::kSwapChannels:
      return true;
    default:
      return false;
  }
}

void Run(const HotkeyRow& row, PipSettings& s, HotkeyActions& actions) {
  if (NeedsCrossbar(row.command) && !actions.CanSwitchSource()) {
    return;
  }
  switch (row.command) {
    case HotkeyCommand::kTogglePiP:
      break;  // handled before the others
    case HotkeyCommand::kNextChannel:
      actions.NextChannel();
      break;
    case HotkeyCommand::kPrevChannel:
      actions.PrevChannel();
      break;
    case HotkeyCommand::kSetChannel:
      actions.SetChannel(row.source);
      break;
    case HotkeyCommand::kSetTVChannel:
      actions.SetChannel(s.PiPTVChannel);
      break;
    case HotkeyCommand::kSwapChannels:
      actions.SwapChannels();
      break;
    case HotkeyCommand::kShiftLeft:
      s.PiPWndPosX = SaturateToInt32(int64_t{s.PiPWndPosX} - 10);
      ClampPipRect(s);
      break;
    case HotkeyCommand::kShiftRight:
      s.PiPWndPosX = SaturateToInt32(int64_t{s.PiPWndPosX} + 10);
      ClampPipRect(s);
      break;
    case HotkeyCommand::kShiftUp:
      s.PiPWndPosY = SaturateToInt32(int64_t{s.PiPWndPosY} - 20);
      ClampPipRect(s);
      break;
    case HotkeyCommand::kShiftDown:
      s.PiPWndPosY = SaturateToInt32(int64_t{s.PiPWndPosY} + 20);
      ClampPipRect(s);
      break;
    case HotkeyCommand::kSizePlus:
      ResizePipRect(s, s.PiPWndSize > 45 ? 50 : s.PiPWndSize + 5);
      break;
    case HotkeyCommand::kSizeMinus:
      ResizePipRect(s, s.PiPWndSize < 15 ? 10 : s.PiPWndSize - 5);
      break;
    case HotkeyCommand::kOpacityPlus:
      s.Opacity = s.Opacity > 90 ? 100 : s.Opacity + 10;
      break;
    case HotkeyCommand::kOpacityMinus:
      s.Opacity = s.Opacity < 10 ? 0 : s.Opacity - 10;
      break;
  }
}

}  // namespace

HotkeyCode KeyboardState::Track(const KeyStroke& key) {
  const uint32_t modifier = ModifierOf(key.virtualKey);
  if (key.released) {
    modifiers_ &= ~modifier;
    return 0;
  }
  if (modifier != 0) {
    modifiers_ |= modifier;
    return 0;
  }
  modifiers_ &= key.modifiersDown;
  // The extended bit belongs to this key alone: Right is extended, numeric-pad 6 is not.
  return MakeHotkeyCode(key.virtualKey, modifiers_ | (key.extended ? kHotkeyExtended : 0));
}

void RunHotkeys(HotkeyCode code, PipSettings& s, HotkeyActions& actions) {
  if (code == 0) {
    return;  // no key is assigned
  }
  for (const HotkeyRow& row : HotkeyRows()) {
    if (row.command == HotkeyCommand::kTogglePiP && s.*row.field == code) {
      s.PiPEnable = s.PiPEnable != 0 ? 0 : 1;
      if (s.PiPEnable != 0) {
        actions.RunGraph();
      } else {
        actions.StopGraph();
      }
    }
  }
  if (!actions.GraphRunning()) {
    return;
  }
  for (const HotkeyRow& row : HotkeyRows()) {
    if (row.command != HotkeyCommand::kTogglePiP && s.*row.field == code) {
      Run(row, s, actions);
    }
  }
}

}  // namespace kvx
