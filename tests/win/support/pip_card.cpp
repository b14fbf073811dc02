#include "tests/win/support/pip_card.h"

#include <atomic>
#include <new>

#include "capture/capture_graph.h"
#include "plugin/plugin.h"
#include "plugin/status_log.h"
#include "settings/settings_store.h"

namespace kvx::test {
namespace {

std::atomic<int> g_failAt{0};

void Observe(int32_t level, std::string_view text) {
  PipCardTest::Log().emplace_back(level, text);
  if (g_failAt > 0 && --g_failAt == 0) {
    throw std::bad_alloc();
  }
}

HostChannel* KVX_CDECL GetTestChannel(int32_t position) {
  return position >= 0 && position < kTestChannelCount ? &kTestChannels[position] : nullptr;
}

}  // namespace

void PipCardTest::SetUp() {
  TvCardTest::SetUp();
  Log().clear();
  StatusLog::SetObserverForTesting(&Observe);
  Settings().current = PipSettings::Defaults();
  Settings().host = HostCallbacks{&GetTestChannel, nullptr};
  Select("TACX");
}

void PipCardTest::TearDown() {
  StopGraph();
  TearDownGraph();
  Lifecycle().GraphBuilt = false;
  StatusLog::SetObserverForTesting(nullptr);
  FailAtLogEntry(0);
  Settings().current = PipSettings::Defaults();
  Settings().host = HostCallbacks{};
  Settings().MainWindow = nullptr;
  TvCardTest::TearDown();
}

void PipCardTest::Select(const std::string& which) {
  const auto pick = [&](char letter, tvcard::Role role) {
    return which.find(letter) != std::string::npos ? Path(1, role) : "";
  };
  PipSettings& s = Settings().current;
  s.TVTunerDevicePath = pick('T', tvcard::Role::kTuner);
  s.TVAudioDevicePath = pick('A', tvcard::Role::kTvAudio);
  s.CrossbarDevicePath = pick('C', tvcard::Role::kCrossbar);
  s.CaptureDevicePath = pick('X', tvcard::Role::kCapture);
}

void PipCardTest::Reregister(const wchar_t* faults) {
  ASSERT_EQ(Unregister(), S_OK);
  SetFaults(faults);
  ASSERT_EQ(Register(), S_OK);
}

std::vector<std::pair<int32_t, std::string>>& PipCardTest::Log() {
  static std::vector<std::pair<int32_t, std::string>> log;
  return log;
}

void PipCardTest::FailAtLogEntry(int n) {
  g_failAt = n;
}

bool PipCardTest::FailedYet() {
  return g_failAt == 0;
}

bool PipCardTest::Logged(const std::string& text) {
  for (const auto& entry : Log()) {
    if (entry.second == text) {
      return true;
    }
  }
  return false;
}

std::string Path(int card, tvcard::Role role, bool replugged) {
  const std::wstring path = tvcard::DevicePath(card, role, replugged);
  return std::string(path.begin(), path.end());  // ASCII
}

bool FramesFlowing(DWORD timeoutMs) {
  const auto frame = [] {
    BYTE* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    IPiPBuffer* buffer = Graph().pPiPBuffer.get();
    if (buffer == nullptr || FAILED(buffer->GetFrame(&pixels, &width, &height, nullptr))) {
      return std::vector<uint8_t>();
    }
    return std::vector<uint8_t>(pixels, pixels + width * height * 2);  // YUY2
  };
  const std::vector<uint8_t> first = frame();
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    Sleep(20);
    if (frame() != first) {
      return true;
    }
  }
  return false;
}

}  // namespace kvx::test
