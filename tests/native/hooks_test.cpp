// What the mouse and keyboard hooks decide: the PiP rectangle's rules, the drag and the
// double-click, the modifiers and the hotkey commands.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "hooks/hotkey_dispatch.h"
#include "hooks/mouse_drag.h"
#include "hooks/pip_rect.h"

namespace kvx {
namespace {

PipSettings Rect(int32_t x, int32_t y, int32_t size) {
  PipSettings s = PipSettings::Defaults();
  s.PiPWndPosX = x;
  s.PiPWndPosY = y;
  s.PiPWndSize = size;
  return s;
}

TEST(PipRect, ClampAndResizeKeepTheRectangleInsideWithoutOverflow) {
  const struct {
    int32_t x, y, size, newSize;  // newSize 0: clamp only
    int32_t x2, y2;
  } cases[] = {
      {-5, 990, 30, 0, 0, 700},
      {650, 650, 30, 35, 625, 625},  // the centre stays
      {0, 0, 30, 50, 0, 0},
      {900, 900, 10, 5, 925, 925},
      {500, 500, 120, 0, -200, -200},  // a size above 100 leaves a negative position
      {INT_MAX, INT_MIN, 30, 0, 700, 0},
      {INT_MAX, INT_MAX, INT_MIN, 0, INT_MAX, INT_MAX},  // 1000 - 10 * size does not fit
      {INT_MAX, INT_MAX, 30, INT_MIN, INT_MAX, INT_MAX},
      {INT_MIN, INT_MIN, INT_MAX, 0, INT_MIN, INT_MIN},
  };
  for (const auto& c : cases) {
    PipSettings s = Rect(c.x, c.y, c.size);
    if (c.newSize != 0) {
      ResizePipRect(s, c.newSize);
    } else {
      ClampPipRect(s);
    }
    EXPECT_EQ(s.PiPWndPosX, c.x2) << c.x << " " << c.size << " " << c.newSize;
    EXPECT_EQ(s.PiPWndPosY, c.y2) << c.y << " " << c.size << " " << c.newSize;
  }
}

// A mouse message on a 640 x 480 video window with the gate open.
MouseEvent At(MouseMessage message, int32_t x, int32_t y, uint32_t tick = 1000) {
  return {message, true, x, y, 640, 480, tick, 500};
}

TEST(MouseDrag, PressInsideDragsReleaseEndsAndCloseReleasesSwap) {
  using M = MouseMessage;
  PipSettings s = Rect(650, 650, 30);  // left 416, top 312, right 608, bottom 456
  MouseDrag drag;
  for (const auto& [x, y] : {std::pair{608, 456}, {415, 400}, {500, 311}}) {
    EXPECT_FALSE(drag.Handle(At(M::kLeftDown, x, y), s).swallow) << x << "," << y;
  }
  EXPECT_FALSE(drag.Handle(At(M::kMove, 500, 400), s).swallow);  // no drag: passed on
  MouseOutcome out = drag.Handle(At(M::kLeftDown, 416, 312), s);
  EXPECT_TRUE(out.capture && out.swallow && drag.dragging());
  // The point grabbed stays under the cursor: 64 pixels left is 100 thousandths.
  out = drag.Handle(At(M::kMove, 352, 264), s);
  EXPECT_TRUE(out.swallow && out.positionChanged);
  EXPECT_EQ(s.PiPWndPosX, 550);
  EXPECT_EQ(s.PiPWndPosY, 550);
  drag.Handle(At(M::kMove, 5000, -5000), s);
  EXPECT_EQ(s.PiPWndPosX, 700);
  EXPECT_EQ(s.PiPWndPosY, 0);
  drag.Handle(At(M::kMove, INT_MIN, INT_MAX), s);
  EXPECT_EQ(s.PiPWndPosX, 0);
  EXPECT_EQ(s.PiPWndPosY, 700);
  EXPECT_FALSE(drag.Handle(At(M::kOther, 10, 10), s).swallow);  // a double-click message

  // Releases: the first is passed on, one within the double-click time swaps and is swallowed,
  // and so does a third within that time of the first (a swapping release is not remembered);
  // exactly the double-click time apart is too late.
  const struct {
    uint32_t tick;
    bool swap;
  } releases[] = {{10000, false}, {10200, true}, {10400, true}, {10500, false}, {10999, true}};
  for (const auto& r : releases) {
    drag.Handle(At(M::kLeftDown, 100, 100, r.tick), s);  // the rectangle is at 0, 700 now
    drag.Handle(At(M::kLeftDown, 10, 400, r.tick), s);
    out = drag.Handle(At(M::kLeftUp, 10, 400, r.tick), s);
    EXPECT_TRUE(out.releaseCapture) << r.tick;
    EXPECT_EQ(out.swap, r.swap) << r.tick;
    EXPECT_EQ(out.swallow, r.swap) << r.tick;
  }

  // A release with the gate closed still ends the drag and frees the mouse, and is passed on.
  drag.Handle(At(M::kLeftDown, 10, 400, 20000), s);
  MouseEvent closed = At(M::kLeftUp, 10, 400, 20100);
  closed.gateOpen = false;
  out = drag.Handle(closed, s);
  EXPECT_TRUE(out.releaseCapture && !out.swap && !out.swallow && !drag.dragging());
  // A window without area passes everything; abandoning a drag asks for the capture back.
  MouseEvent empty = At(M::kLeftDown, 0, 0);
  empty.width = 0;
  EXPECT_FALSE(drag.Handle(empty, s).swallow);
  drag.Handle(At(M::kLeftDown, 10, 400), s);
  EXPECT_TRUE(drag.Abandon());
  EXPECT_FALSE(drag.Abandon());
}

class RecordingActions final : public HotkeyActions {
 public:
  bool running = true;
  bool crossbar = true;
  std::string calls;

  bool GraphRunning() override { return running; }
  bool CanSwitchSource() override { return crossbar; }
  void RunGraph() override { Add("run"); }
  void StopGraph() override { Add("stop"); }
  void NextChannel() override { Add("next"); }
  void PrevChannel() override { Add("prev"); }
  void SetChannel(int32_t position) override { Add("set" + std::to_string(position)); }
  void SwapChannels() override { Add("swap"); }

 private:
  void Add(const std::string& call) { calls += (calls.empty() ? "" : " ") + call; }
};

TEST(Hotkeys, ModifiersBuildTheCodeAndEveryMatchingCommandRunsInOrder) {
  constexpr uint32_t kCtrl = 0x11, kShift = 0x10, kAlt = 0x12, kLeft = 0x25, kUp = 0x26, kP = 0x50;
  constexpr uint32_t kCtrlHeld = kHotkeyControl;
  KeyboardState keys;
  EXPECT_EQ(keys.Track({kCtrl, false, false, kCtrlHeld}), 0u);
  EXPECT_EQ(keys.Track({kLeft, true, false, kCtrlHeld}), 2597u);  // Ctrl + extended + left arrow
  EXPECT_EQ(keys.Track({kLeft, true, false, kCtrlHeld}), 2597u);  // auto-repeat
  // The extended bit is the key's own, even while the left arrow is still down.
  EXPECT_EQ(keys.Track({kP, false, false, kCtrlHeld}), 592u);
  keys.Track({kShift, false, false, kCtrlHeld | kHotkeyShift});
  EXPECT_EQ(keys.modifiers(), 3u);
  keys.Track({kShift, false, true, kCtrlHeld});
  EXPECT_EQ(keys.Track({kP, false, false, kCtrlHeld}), 592u);
  // Alt pressed in the host and released in another window (Alt+Tab), Ctrl released while the
  // hook was not looking: back in the host, a plain Up is not Alt+Up, and both bits are gone.
  keys.Track({kAlt, false, false, kCtrlHeld | kHotkeyAlt});
  EXPECT_EQ(keys.Track({kUp, true, false, 0}), 0x826u);
  EXPECT_EQ(keys.modifiers(), 0u);
  // A modifier the hook never saw pressed is never added, whatever the system says.
  EXPECT_EQ(keys.Track({kP, false, false, kHotkeyAlt | kHotkeyShift}), 0x50u);

  PipSettings s = PipSettings::Defaults();
  RecordingActions actions;
  actions.running = false;
  RunHotkeys(2597, s, actions);  // the graph is stopped: nothing
  EXPECT_EQ(s.PiPWndPosX, 650);
  RunHotkeys(592, s, actions);  // but Ctrl+P toggles
  RunHotkeys(592, s, actions);
  EXPECT_EQ(actions.calls, "stop run");
  EXPECT_EQ(s.PiPEnable, 1u);
  RunHotkeys(0, s, actions);  // no key never matches

  actions.running = true;
  actions.calls.clear();
  // Three commands on one code run in table order.
  s.HK_PiPSetSVHSMode = s.HK_PiPNextChannel = s.HK_PiPWndShiftRight = 1234;
  RunHotkeys(1234, s, actions);
  EXPECT_EQ(actions.calls, "next set-3");
  EXPECT_EQ(s.PiPWndPosX, 660);
  const struct {
    uint32_t PipSettings::*key;
    int32_t x, y, size;
    uint32_t opacity;
    int32_t x2, y2, size2;
    uint32_t opacity2;
  } steps[] = {
      {&PipSettings::HK_PiPWndShiftLeft, 5, 0, 30, 60, 0, 0, 30, 60},
      {&PipSettings::HK_PiPWndShiftDown, 0, 690, 30, 60, 0, 700, 30, 60},
      {&PipSettings::HK_PiPWndShiftUp, 0, INT_MIN, 30, 60, 0, 0, 30, 60},
      {&PipSettings::HK_PiPWndSizePlus, 500, 500, 50, 60, 500, 500, 50, 60},
      {&PipSettings::HK_PiPWndSizePlus, 500, 500, 40, 60, 475, 475, 45, 60},
      {&PipSettings::HK_PiPWndSizeMinus, 500, 500, 12, 60, 510, 510, 10, 60},
      {&PipSettings::HK_PiPWndSizeMinus, 500, 500, INT_MAX, 60, INT_MIN, INT_MIN, INT_MAX - 5, 60},
      {&PipSettings::HK_PiPWndOpacityMinus, 0, 0, 30, 5, 0, 0, 30, 0},
      {&PipSettings::HK_PiPWndOpacityPlus, 0, 0, 30, 95, 0, 0, 30, 100},
      {&PipSettings::HK_PiPWndOpacityPlus, 0, 0, 30, 0xFFFFFFFF, 0, 0, 30, 100},
  };
  for (const auto& step : steps) {
    s = Rect(step.x, step.y, step.size);
    s.Opacity = step.opacity;
    RunHotkeys(s.*step.key, s, actions);
    EXPECT_EQ(s.PiPWndPosX, step.x2) << s.*step.key;
    EXPECT_EQ(s.PiPWndPosY, step.y2) << s.*step.key;
    EXPECT_EQ(s.PiPWndSize, step.size2) << s.*step.key;
    EXPECT_EQ(s.Opacity, step.opacity2) << s.*step.key;
  }
  actions.calls.clear();
  s = PipSettings::Defaults();
  s.PiPTVChannel = 7;
  for (uint32_t PipSettings::*key :
       {&PipSettings::HK_PiPSetChannel_19, &PipSettings::HK_PiPSetTVMode,
        &PipSettings::HK_PiPSetVHSMode, &PipSettings::HK_PiPChannelSwap,
        &PipSettings::HK_PiPPrevChannel}) {
    RunHotkeys(s.*key, s, actions);
  }
  EXPECT_EQ(actions.calls, "set18 set7 set-2 swap prev");
  // A camera's graph has no crossbar: the channel keys do nothing, the window keys still act.
  actions.calls.clear();
  actions.crossbar = false;
  s.HK_PiPWndShiftRight = s.HK_PiPNextChannel;
  for (uint32_t PipSettings::*key :
       {&PipSettings::HK_PiPSetChannel_19, &PipSettings::HK_PiPSetTVMode,
        &PipSettings::HK_PiPSetVHSMode, &PipSettings::HK_PiPChannelSwap,
        &PipSettings::HK_PiPPrevChannel, &PipSettings::HK_PiPNextChannel}) {
    RunHotkeys(s.*key, s, actions);
  }
  EXPECT_EQ(actions.calls, "");
  EXPECT_EQ(s.PiPWndPosX, PipSettings::Defaults().PiPWndPosX + 10);
}

}  // namespace
}  // namespace kvx
