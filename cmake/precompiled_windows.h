// Read once per Windows target (see Precompiled.cmake): the platform headers most of its files
// include, and the standard headers they use most.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <dshow.h>
#include <ks.h>
#include <ksmedia.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
