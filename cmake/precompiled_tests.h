// Read once per test program (see Precompiled.cmake).
#pragma once

#ifdef _WIN32
#include "cmake/precompiled_windows.h"
#endif

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
