// The rules that keep the PiP rectangle inside the picture, shared by the mouse hook, the
// keyboard hook and the device page. Positions are thousandths of the picture, the size percent;
// one percent of size is ten position units.
//
// Threads: the host's user-interface thread; the fields are written without a lock.
#pragma once

#include <cstdint>

#include "base/mul_div.h"
#include "settings/pip_settings.h"

namespace kvx {

// Keeps PiPWndPosX and PiPWndPosY at 0 or more, and the rectangle's right and bottom edges at
// 1000 or less. The size is not limited: above 100 it leaves a negative position.
void ClampPipRect(PipSettings& s);
// Sets PiPWndSize keeping the rectangle's centre, then clamps.
void ResizePipRect(PipSettings& s, int32_t newSize);

}  // namespace kvx
