#include "plugin/status_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

namespace kvx {
namespace {

std::vector<std::pair<int32_t, std::string>> g_entries;

void Observe(int32_t level, std::string_view text) {
  g_entries.emplace_back(level, text);
}

class StatusLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_entries.clear();
    StatusLog::SetObserverForTesting(&Observe);
  }
  void TearDown() override { StatusLog::SetObserverForTesting(nullptr); }
};

TEST_F(StatusLogTest, NamesTheCodesOfItsTable) {
  EXPECT_STREQ(StatusLog::ResultName(0), "O.K.");
  EXPECT_STREQ(StatusLog::ResultName(1), "S_FALSE");
  EXPECT_STREQ(StatusLog::ResultName(0x0004027E), "VFW_S_NOPREVIEWPIN");
  EXPECT_STREQ(StatusLog::ResultName(kNotImpl), "E_NOTIMPL");
  EXPECT_STREQ(StatusLog::ResultName(kNoInterface), "E_NOINTERFACE");
  EXPECT_STREQ(StatusLog::ResultName(kPointer), "E_POINTER");
  EXPECT_STREQ(StatusLog::ResultName(kFail), "E_FAIL");
  EXPECT_STREQ(StatusLog::ResultName(kUnexpected), "E_UNEXPECTED");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x80040110)), "CLASS_E_NOAGGREGATION");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x80040154)), "REGDB_E_CLASSNOTREG");
  EXPECT_STREQ(StatusLog::ResultName(kOutOfMemory), "E_OUTOFMEMORY");
  EXPECT_STREQ(StatusLog::ResultName(kInvalidArg), "E_INVALIDARG");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x80070490)), "E_PROP_ID_UNSUPPORTED");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x80070492)), "E_PROP_SET_UNSUPPORTED");
}

TEST_F(StatusLogTest, EmptyNamesCoverExactlyTheDirectShowAndControlCodes) {
  // Every code the DirectShow (0x0004/0x8004) and OLE control (0x800A) facilities could hold
  // in their low 10 bits: exactly 156 of them have the empty name.
  int empty = 0;
  for (uint32_t base : {0x00040000u, 0x80040000u, 0x800A0000u}) {
    for (uint32_t low = 0; low < 0x400; ++low) {
      if (std::string(StatusLog::ResultName(MakeCode(base + low))).empty()) {
        ++empty;
      }
    }
  }
  EXPECT_EQ(empty, 156);
  // Range edges, and their neighbours that fall outside.
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x80040200)), "");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x80040236)), "");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x80040237)), "UNKNOWN_ERROR");
  EXPECT_STREQ(StatusLog::ResultName(0x00040237), "");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x8004027B)), "");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x8004027C)), "UNKNOWN_ERROR");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x800A02EA)), "");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x800A02E9)), "UNKNOWN_ERROR");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x800403F2)), "");
}

TEST_F(StatusLogTest, UnknownCodes) {
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0x80070005)), "UNKNOWN_ERROR");  // E_ACCESSDENIED
  EXPECT_STREQ(StatusLog::ResultName(2), "UNKNOWN_ERROR");
  EXPECT_STREQ(StatusLog::ResultName(MakeCode(0xFFFFFFFF)), "UNKNOWN_ERROR");
}

TEST_F(StatusLogTest, LogResultRecordsOnlyFailuresUnderTheirNames) {
  StatusLog::LogResult(kLogFailureLevel, kOk);
  StatusLog::LogResult(kLogFailureLevel, kFalse);
  EXPECT_TRUE(g_entries.empty());

  StatusLog::LogResult(kLogFailureLevel, MakeCode(0x80040207));  // VFW_E_NO_ACCEPTABLE_TYPES
  StatusLog::LogResult(kLogFailureLevel, MakeCode(0x80070005));
  StatusLog::LogResult(kLogFailureLevel, kPointer);
  using Entry = std::pair<int32_t, std::string>;
  EXPECT_THAT(g_entries, ::testing::ElementsAre(Entry{0, ""}, Entry{0, "UNKNOWN_ERROR"},
                                                Entry{0, "E_POINTER"}));
}

TEST_F(StatusLogTest, StepsAndFailuresKeepTheirLevels) {
  StatusLog::LogStep(kLogStepLevel, "Run DirectShow graph ... ");
  StatusLog::LogFailure(kLogFailureLevel, kFail);
  ASSERT_EQ(g_entries.size(), 2u);
  EXPECT_EQ(g_entries[0], (std::pair<int32_t, std::string>{1, "Run DirectShow graph ... "}));
  EXPECT_EQ(g_entries[1].first, 0);
  EXPECT_EQ(g_entries[1].second, "0x80004005");
}

// The address sanitizer's allocation hooks, where the tests run under it.
extern "C" __attribute__((weak)) int __sanitizer_install_malloc_and_free_hooks(
    void (*onMalloc)(const volatile void*, size_t), void (*onFree)(const volatile void*));
std::atomic<int> g_allocations{0};
std::atomic<bool> g_counting{false};

void CountNothing(int32_t, std::string_view) {}

// The hotkeys and the channel commands log as they go: entries, numbers and result names are
// put together without a single allocation.
TEST(StatusLogLines, AreBuiltInPlaceCutAtTheirEndAndNeverAllocate) {
  if (__sanitizer_install_malloc_and_free_hooks == nullptr) {
    GTEST_SKIP() << "this build cannot count allocations";
  }
  static const int installed = __sanitizer_install_malloc_and_free_hooks(
      [](const volatile void*, size_t) { g_allocations += g_counting ? 1 : 0; },
      [](const volatile void*) {});
  (void)installed;
  StatusLog::SetObserverForTesting(&CountNothing);
  g_allocations = 0;
  g_counting = true;
  StatusLog::LogStep(kLogStepLevel, "Route Crossbar pins ... ");
  StatusLog::LogFailure(kLogFailureLevel, kFail);
  StatusLog::LogResult(kLogFailureLevel, kPointer);
  LogLine line;
  line << "Set stream format "
       << "YUY2 " << int64_t{-640} << "x" << int64_t{480};
  line.Hex(0x8004022A);
  StatusLog::LogStep(kLogStepLevel, line.View());
  g_counting = false;
  StatusLog::SetObserverForTesting(nullptr);
  EXPECT_EQ(g_allocations, 0);
  EXPECT_EQ(line.View(), "Set stream format YUY2 -640x4800x8004022A");

  LogLine full;
  for (int i = 0; i < 100; ++i) {
    full << "0123456789";
  }
  full << INT64_MIN;
  EXPECT_EQ(full.View().size(), 256u);
  LogLine minimum;
  EXPECT_EQ((minimum << INT64_MIN).View(), "-9223372036854775808");
}

}  // namespace
}  // namespace kvx
