// Runs ZorvintaHost.exe with recorder_plugin.dll in its Plugins folder and holds what the host
// did against what the recorder wrote down, the host's own log and the PNG files it saved.
// Each Wine process start costs about a second, so the host runs four times in all, three of
// them side by side, in SetUpTestSuite; the cases then read the results. The screenshot run
// goes alone, since it photographs the whole screen. KVX_KEEP_HOST_RUNS=1 keeps the runs' folders
// (in the Temp folder) for a look at the logs and pictures.
#include <windows.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/win/support/host_process.h"
#include "video/com_ptr.h"

namespace {

namespace fs = std::filesystem;
using kvx::ComPtr;
using kvx::test::Image;
using kvx::test::readPng;

constexpr DWORD kRunTimeoutMs = 30000;

struct Call {
  std::string name;
  std::map<std::string, std::string> fields;

  std::string text(const std::string& key) const {
    auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
  }
  long long number(const std::string& key) const {
    auto found = fields.find(key);
    return found == fields.end() ? -1 : std::stoll(found->second);
  }
};

struct HostLine {
  std::string thread;
  std::string event;
};

struct PluginFile {
  std::wstring from;  // a file beside the test program; empty for a text file posing as a DLL
  std::wstring as;
};

struct HostRun {
  std::vector<PluginFile> plugins;
  bool pluginsFolder = true;
  std::function<std::wstring(const std::wstring& folder)> arguments;

  fs::path folder;
  HANDLE process = nullptr;
  DWORD exitCode = STILL_ACTIVE;
  std::string error;
  std::vector<Call> calls;
  std::vector<HostLine> log;

  std::vector<Call> callsOf(const std::string& module, const std::string& name = "") const {
    std::vector<Call> out;
    for (const Call& call : calls)
      if (call.text("module") == module && (name.empty() || call.name == name))
        out.push_back(call);
    return out;
  }
  std::vector<Call> frames() const { return callsOf("recorder_plugin.dll", "Frame"); }
  const HostLine* findLog(const std::string& event) const {
    for (const HostLine& line : log)
      if (line.event.find(event) != std::string::npos)
        return &line;
    return nullptr;
  }
  bool hasLogLine(const std::string& event, const std::string& thread) const {
    return std::any_of(log.begin(), log.end(), [&](const HostLine& line) {
      return line.event == event && line.thread == thread;
    });
  }
  size_t logIndex(const std::string& event) const {
    const HostLine* line = findLog(event);
    return line == nullptr ? log.size() : static_cast<size_t>(line - log.data());
  }
};

fs::path programFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, length)).parent_path();
}

std::vector<std::string> readLines(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty())
      lines.push_back(line);
  return lines;
}

std::vector<Call> readCalls(const fs::path& file) {
  std::vector<Call> calls;
  for (const std::string& line : readLines(file)) {
    std::istringstream in(line);
    Call call;
    std::getline(in, call.name, '\t');
    for (std::string field; std::getline(in, field, '\t');) {
      size_t equals = field.find('=');
      call.fields[field.substr(0, equals)] =
          equals == std::string::npos ? "" : field.substr(equals + 1);
    }
    calls.push_back(call);
  }
  return calls;
}

// "<seconds> <thread> <event>"
std::vector<HostLine> readHostLog(const fs::path& file) {
  std::vector<HostLine> log;
  for (const std::string& line : readLines(file)) {
    std::istringstream in(line);
    std::string seconds;
    HostLine entry;
    in >> seconds >> entry.thread >> std::ws;
    std::getline(in, entry.event);
    log.push_back(entry);
  }
  return log;
}

bool isGreen(uint32_t pixel) {
  int r = pixel >> 16 & 0xFF, g = pixel >> 8 & 0xFF, b = pixel & 0xFF;
  return g > 160 && r < 96 && b < 96;
}

bool isMagenta(uint32_t pixel) {
  int r = pixel >> 16 & 0xFF, g = pixel >> 8 & 0xFF, b = pixel & 0xFF;
  return r > 160 && b > 160 && g < 96;
}

// The recorder's mark: 4x4 squares of 8 pixels, green where column + row is even.
bool checkerboardAt(const Image& image, int left, int top) {
  if (left < 0 || top < 0 || left + 32 > image.width || top + 32 > image.height)
    return false;
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      uint32_t pixel = image.at(left + column * 8 + 4, top + row * 8 + 4);
      if ((column + row) % 2 == 0 ? !isGreen(pixel) : !isMagenta(pixel))
        return false;
    }
  }
  return true;
}

bool findCheckerboard(const Image& image) {
  for (int y = 0; y + 32 <= image.height; ++y)
    for (int x = 0; x + 32 <= image.width; ++x)
      if (isGreen(image.at(x + 4, y + 4)) && checkerboardAt(image, x, y))
        return true;
  return false;
}

// Share of the pixels taken by the most common colour.
double commonestShare(const Image& image) {
  std::map<uint32_t, size_t> counts;
  size_t most = 0;
  for (uint32_t pixel : image.pixels)
    most = std::max(most, ++counts[pixel]);
  return static_cast<double>(most) / static_cast<double>(image.pixels.size());
}

size_t distinctColours(const Image& image) {
  return std::set<uint32_t>(image.pixels.begin(), image.pixels.end()).size();
}

// The most common colour of the upper two thirds, where the host paints the channel's background.
uint32_t backgroundOf(const Image& image) {
  std::map<uint32_t, int> counts;
  for (int y = 0; y < image.height * 2 / 3; ++y)
    for (int x = 0; x < image.width; ++x)
      ++counts[image.at(x, y)];
  return std::max_element(counts.begin(), counts.end(),
                          [](const auto& a, const auto& b) { return a.second < b.second; })
      ->first;
}

std::vector<std::string> collapsedSequence(const std::vector<Call>& calls) {
  std::vector<std::string> sequence;
  for (const Call& call : calls) {
    if (call.name == "Command" || call.name == "Windows" || call.name == "ShowSettings")
      continue;
    if (sequence.empty() || sequence.back() != call.name || call.name != "Frame")
      sequence.push_back(call.name);
  }
  return sequence;
}

// The frame count the host logs when its video thread stops.
long long hostFrameCount(const HostRun& run) {
  const HostLine* line = run.findLog("video thread stopped after ");
  if (line == nullptr)
    return -1;
  return std::atoll(line->event.c_str() + line->event.find("after ") + 6);
}

std::set<std::string> pngFiles(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    names.insert(entry.path().filename().string());
  return names;
}

std::string savedName(long long number) {
  char name[32];
  snprintf(name, sizeof(name), "frame_%04lld.png", number);
  return name;
}

void launch(HostRun& run, const fs::path& from, int index) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  run.folder = fs::path(temp) / (L"kvx_host_standin_" + std::to_wstring(GetCurrentProcessId()) +
                                 L"_" + std::to_wstring(index));
  std::error_code error;
  fs::remove_all(run.folder, error);
  fs::create_directories(run.folder);
  fs::copy_file(from / L"ZorvintaHost.exe", run.folder / L"ZorvintaHost.exe");
  if (run.pluginsFolder) {
    fs::create_directory(run.folder / L"Plugins");
    for (const PluginFile& plugin : run.plugins) {
      if (plugin.from.empty())
        std::ofstream(run.folder / L"Plugins" / plugin.as) << "not a DLL\n";
      else
        fs::copy_file(from / plugin.from, run.folder / L"Plugins" / plugin.as);
    }
  }

  std::wstring exe = (run.folder / L"ZorvintaHost.exe").wstring();
  std::wstring commandLine = L"\"" + exe + L"\" " + run.arguments(run.folder.wstring());
  // The child takes a copy of the environment when it is created.
  SetEnvironmentVariableW(L"KVX_RECORDER_LOG", (run.folder / L"recorder.log").wstring().c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     run.folder.wstring().c_str(), &startup, &info)) {
    CloseHandle(info.hThread);
    run.process = info.hProcess;
  } else {
    run.error = "CreateProcessW failed, error " + std::to_string(GetLastError());
  }
  SetEnvironmentVariableW(L"KVX_RECORDER_LOG", nullptr);
}

void finish(HostRun& run) {
  if (run.process == nullptr)
    return;
  if (WaitForSingleObject(run.process, kRunTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(run.process, 99);
    WaitForSingleObject(run.process, 5000);
    run.error = "the host did not exit within " + std::to_string(kRunTimeoutMs / 1000) + " s";
  }
  GetExitCodeProcess(run.process, &run.exitCode);
  CloseHandle(run.process);
  run.process = nullptr;
  run.calls = readCalls(run.folder / L"recorder.log");
  run.log = readHostLog(run.folder / L"host.log");
}

std::wstring quoted(const std::wstring& option, const std::wstring& path) {
  return L"\"" + option + path + L"\"";
}

class HostStandin : public ::testing::Test {
 protected:
  // The default stream with every kind of DLL the host must skip, and /settings.
  static inline HostRun yuy2_;
  // RGB24 at another size, another first channel, /nochild and the screenshot.
  static inline HostRun rgb_;
  // The product plug-in beside the recorder.
  static inline HostRun product_;
  // No Plugins folder at all.
  static inline HostRun bare_;

  static void SetUpTestSuite() {
    // Under Xvfb there is no window manager, and Wine waits 2 s for one to withdraw each
    // top-level window that closes. Windows that Wine keeps to itself close at once.
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr)
      RegSetKeyValueW(HKEY_CURRENT_USER,
                      L"Software\\Wine\\AppDefaults\\ZorvintaHost.exe\\X11 Driver", L"Managed",
                      REG_SZ, L"N", 2 * sizeof(wchar_t));

    yuy2_.plugins = {{L"recorder_plugin.dll", L"recorder_plugin.dll"},
                     {L"recorder_plugin.dll", L"bad_version.dll"},
                     {L"recorder_plugin.dll", L"bad_descriptor.dll"},
                     {L"not_a_plugin.dll", L"not_a_plugin.dll"},
                     {L"", L"garbage.dll"}};
    yuy2_.arguments = [](const std::wstring& folder) {
      return L"/seconds:2 /saveevery:10 /settings -INST:Q " +
             quoted(L"/save:", folder + L"\\frames") + L" " +
             quoted(L"/log:", folder + L"\\host.log");
    };
    rgb_.plugins = {{L"recorder_plugin.dll", L"recorder_plugin.dll"}};
    rgb_.arguments = [](const std::wstring& folder) {
      return L"/seconds:2 /format:RGB24 /size:320x240 /mode:2 /channel:4 /nochild " +
             quoted(L"/save:", folder + L"\\frames") + L" " +
             quoted(L"/screenshot:", folder + L"\\screen.png") + L" " +
             quoted(L"/log:", folder + L"\\host.log");
    };
    product_.plugins = {{L"recorder_plugin.dll", L"recorder_plugin.dll"},
                        {L"KVX_PiP.dll", L"KVX_PiP.dll"}};
    // Its own instance id: the plug-in finds windows by title, and the runs go side by side.
    product_.arguments = [](const std::wstring& folder) {
      return L"/seconds:2 /inst:p " + quoted(L"/log:", folder + L"\\host.log");
    };
    bare_.pluginsFolder = false;
    bare_.arguments = [](const std::wstring& folder) {
      return L"/seconds:1 " + quoted(L"/log:", folder + L"\\host.log");
    };

    fs::path from = programFolder();
    int index = 0;
    for (HostRun* run : {&yuy2_, &product_, &bare_})
      launch(*run, from, index++);
    for (HostRun* run : {&yuy2_, &product_, &bare_})
      finish(*run);
    launch(rgb_, from, index++);
    finish(rgb_);
  }

  static void TearDownTestSuite() {
    if (std::getenv("KVX_KEEP_HOST_RUNS") != nullptr)
      return;
    for (HostRun* run : {&yuy2_, &rgb_, &product_, &bare_}) {
      std::error_code error;
      fs::remove_all(run->folder, error);
    }
  }

  // Fails the case unless the run ended by itself with exit code 0.
  static void expectCleanExit(const HostRun& run) {
    ASSERT_EQ(run.error, "");
    ASSERT_EQ(run.exitCode, 0u);
    ASSERT_FALSE(run.log.empty());
    EXPECT_EQ(run.log.back().event, "exit code 0");
    EXPECT_NE(run.findLog("run time is up"), nullptr);
  }
};

TEST_F(HostStandin, ExitsCleanlyAfterTheRunTime) {
  for (const HostRun* run : {&yuy2_, &rgb_, &product_, &bare_}) {
    SCOPED_TRACE(run->folder.string());
    expectCleanExit(*run);
  }
}

TEST_F(HostStandin, CallsThePluginInTheHostsOrder) {
  std::vector<std::string> expected = {"Version", "PR", "Init", "Start", "Frame", "Stop", "Done"};
  for (const HostRun* run : {&yuy2_, &rgb_, &product_}) {
    SCOPED_TRACE(run->folder.string());
    EXPECT_EQ(collapsedSequence(run->callsOf("recorder_plugin.dll")), expected);
  }
  // /settings: ShowSettings once, while the plug-in runs, with the main window as parent.
  std::vector<Call> calls = yuy2_.callsOf("recorder_plugin.dll");
  auto position = [&](const std::string& name) {
    return std::find_if(calls.begin(), calls.end(),
                        [&](const Call& call) { return call.name == name; }) -
           calls.begin();
  };
  ASSERT_EQ(yuy2_.callsOf("recorder_plugin.dll", "ShowSettings").size(), 1u);
  EXPECT_GT(position("ShowSettings"), position("Start"));
  EXPECT_LT(position("ShowSettings"), position("Stop"));
  const Call& settings = calls[static_cast<size_t>(position("ShowSettings"))];
  EXPECT_EQ(settings.text("parentClass"), "TMain");
  EXPECT_EQ(settings.number("parentOwn"), 1);
  EXPECT_TRUE(rgb_.callsOf("recorder_plugin.dll", "ShowSettings").empty());
}

TEST_F(HostStandin, CallsFrameOnItsVideoThreadAndTheRestOnTheUiThread) {
  for (const HostRun* run : {&yuy2_, &rgb_, &product_}) {
    SCOPED_TRACE(run->folder.string());
    std::set<std::string> uiThreads, videoThreads;
    for (const Call& call : run->callsOf("recorder_plugin.dll")) {
      if (call.name == "Frame")
        videoThreads.insert(call.text("tid"));
      else if (call.name != "Command" && call.name != "Windows")
        uiThreads.insert(call.text("tid"));
    }
    ASSERT_EQ(uiThreads.size(), 1u);
    ASSERT_EQ(videoThreads.size(), 1u);
    EXPECT_NE(*uiThreads.begin(), *videoThreads.begin());
  }
}

TEST_F(HostStandin, DeliversAMovingPictureAt25FramesPerSecond) {
  for (const HostRun* run : {&yuy2_, &rgb_, &product_}) {
    SCOPED_TRACE(run->folder.string());
    std::vector<Call> frames = run->frames();
    ASSERT_GE(frames.size(), 30u) << "a 2-second run";
    EXPECT_LE(frames.size(), 60u);
    double interval = static_cast<double>(frames.back().number("ms") - frames[0].number("ms")) /
                      static_cast<double>(frames.size() - 1);
    EXPECT_GT(interval, 35.0);
    EXPECT_LT(interval, 46.0);
    EXPECT_EQ(hostFrameCount(*run), static_cast<long long>(frames.size()));
    EXPECT_EQ(run->callsOf("recorder_plugin.dll", "Stop").at(0).number("frames"),
              static_cast<long long>(frames.size()));

    std::set<std::string> hashes;
    for (const Call& frame : frames) {
      EXPECT_EQ(frame.number("pixels"), 1);
      EXPECT_EQ(frame.number("state"), 1);
      EXPECT_EQ(frame.number("outOfRange"), 0) << "YUY2 outside BT.601 studio range";
      hashes.insert(frame.text("hash"));
    }
    EXPECT_GE(hashes.size(), frames.size() * 9 / 10);
  }
}

TEST_F(HostStandin, DescribesTheStreamItWasAskedFor) {
  struct Expected {
    const HostRun* run;
    long long width, height, format, mode;
  };
  for (const Expected& expected :
       {Expected{&yuy2_, 720, 576, 0, 0}, Expected{&rgb_, 320, 240, 1, 2}}) {
    SCOPED_TRACE(expected.run->folder.string());
    std::vector<Call> starts = expected.run->callsOf("recorder_plugin.dll", "Start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].number("width"), expected.width);
    EXPECT_EQ(starts[0].number("height"), expected.height);
    EXPECT_EQ(starts[0].number("format"), expected.format);
    EXPECT_EQ(starts[0].number("mode"), expected.mode);
    EXPECT_EQ(starts[0].number("reserved"), 0);
    EXPECT_EQ(starts[0].number("mainFound"), 1);
    EXPECT_NE(starts[0].number("query"), 0) << "the query command is answered";
  }
}

TEST_F(HostStandin, HandsOutARealChannelList) {
  std::vector<Call> inits = yuy2_.callsOf("recorder_plugin.dll", "Init");
  ASSERT_EQ(inits.size(), 1u);
  const Call& init = inits[0];
  EXPECT_EQ(init.number("getChannel"), 1);
  EXPECT_EQ(init.text("negative"), "null");
  ASSERT_GE(init.number("channels"), 10);

  std::istringstream list(init.text("list"));
  std::set<long long> frequencies;
  std::set<long long> standards;
  int count = 0;
  for (std::string entry; std::getline(list, entry, ','); ++count) {
    long long frequency = std::stoll(entry.substr(0, entry.find('/')));
    long long standard = std::stoll(entry.substr(entry.find('/') + 1));
    EXPECT_GE(frequency, 45000000) << entry;
    EXPECT_LE(frequency, 862000000) << entry;
    frequencies.insert(frequency);
    standards.insert(standard);
  }
  EXPECT_EQ(count, init.number("channels"));
  EXPECT_EQ(frequencies.size(), static_cast<size_t>(count));
  EXPECT_EQ(standards, (std::set<long long>{0, 1, 2}));

  std::istringstream names(init.text("names"));
  int named = 0;
  for (std::string name; std::getline(names, name, ',');)
    named += name.empty() ? 0 : 1;
  EXPECT_EQ(named, count);
}

TEST_F(HostStandin, TunesOnlyToChannelsInItsList) {
  struct Expected {
    const HostRun* run;
    long long firstPosition;
  };
  for (const Expected& expected : {Expected{&yuy2_, 0}, Expected{&rgb_, 4}}) {
    SCOPED_TRACE(expected.run->folder.string());
    std::vector<Call> commands = expected.run->callsOf("recorder_plugin.dll", "Command");
    ASSERT_EQ(commands.size(), 3u);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(commands[i].number("sent"), 1);
      EXPECT_EQ(commands[i].number("result"), 0) << "lParam " << commands[i].text("lparam");
    }
    EXPECT_EQ(commands[2].number("posted"), 1);

    std::vector<Call> frames = expected.run->frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].number("position"), expected.firstPosition);
    auto tuned = std::find_if(frames.begin(), frames.end(),
                              [](const Call& frame) { return frame.number("position") == 2; });
    ASSERT_NE(tuned, frames.end());
    // Posted after frame 10 had been handed over.
    EXPECT_GT(tuned->number("n"), 10);
    EXPECT_LT(tuned->number("n"), 20);
    EXPECT_TRUE(tuned->text("stamp1") != frames[0].text("stamp1") ||
                tuned->text("stamp2") != frames[0].text("stamp2"));
    for (auto frame = frames.begin(); frame != frames.end(); ++frame) {
      const Call& same = frame < tuned ? frames[0] : *tuned;
      EXPECT_EQ(frame->text("stamp1"), same.text("stamp1")) << "frame " << frame->text("n");
      EXPECT_EQ(frame->text("stamp2"), same.text("stamp2")) << "frame " << frame->text("n");
      EXPECT_EQ(frame->text("position"), same.text("position")) << "frame " << frame->text("n");
    }
  }
}

TEST_F(HostStandin, NamesItsWindowsAfterTheInstance) {
  std::vector<Call> windows = yuy2_.callsOf("recorder_plugin.dll", "Windows");
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].text("main"), "Zorvinta.Instq");
  EXPECT_EQ(windows[0].text("video"), "Video window.Instq");
  EXPECT_EQ(windows[0].number("owner"), 1);
  EXPECT_EQ(windows[0].number("child"), 1);
  EXPECT_EQ(windows[0].number("childFills"), 1);

  windows = rgb_.callsOf("recorder_plugin.dll", "Windows");
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].text("main"), "Zorvinta");
  EXPECT_EQ(windows[0].text("video"), "Video window");
  EXPECT_EQ(windows[0].number("child"), 0) << "/nochild";
}

TEST_F(HostStandin, SavesEveryNthFrameAsThePluginsLeftIt) {
  struct Expected {
    const HostRun* run;
    int width, height, every;
  };
  for (const Expected& expected : {Expected{&yuy2_, 720, 576, 10}, Expected{&rgb_, 320, 240, 25}}) {
    SCOPED_TRACE(expected.run->folder.string());
    long long frames = hostFrameCount(*expected.run);
    ASSERT_GT(frames, 0);
    std::set<std::string> names;
    for (long long number = 1; number <= frames; number += expected.every)
      names.insert(savedName(number));
    fs::path folder = expected.run->folder / L"frames";
    ASSERT_EQ(pngFiles(folder), names);

    std::vector<Image> images;
    for (const std::string& name : names) {
      SCOPED_TRACE(name);
      Image image = readPng(folder / name);
      ASSERT_EQ(image.width, expected.width);
      ASSERT_EQ(image.height, expected.height);
      EXPECT_GT(distinctColours(image), 20u);
      EXPECT_LT(commonestShare(image), 0.7);
      // Top left as the recorder meant it: YUY2 top-down, RGB24 bottom-up.
      EXPECT_TRUE(checkerboardAt(image, 0, 0));
      EXPECT_FALSE(checkerboardAt(image, 0, image.height - 32));
      if (!images.empty()) {
        EXPECT_NE(image.pixels, images.back().pixels) << "the picture moves";
      }
      images.push_back(std::move(image));
    }
    // The last saved frame is well after the tune to channel 2, which has its own background.
    ASSERT_GE(images.size(), 2u);
    EXPECT_NE(backgroundOf(images.front()), backgroundOf(images.back()));
  }
}

TEST_F(HostStandin, ScreenshotShowsTheVideoWindow) {
  Image screen = readPng(rgb_.folder / L"screen.png");
  EXPECT_EQ(screen.width, GetSystemMetrics(SM_CXVIRTUALSCREEN));
  EXPECT_EQ(screen.height, GetSystemMetrics(SM_CYVIRTUALSCREEN));
  EXPECT_TRUE(findCheckerboard(screen)) << "the processed frame on screen";
  EXPECT_FALSE(std::filesystem::exists(yuy2_.folder / L"screen.png"));
}

TEST_F(HostStandin, SkipsDllsThatAreNoPlugins) {
  EXPECT_EQ(collapsedSequence(yuy2_.callsOf("bad_version.dll")),
            std::vector<std::string>{"Version"});
  EXPECT_EQ(collapsedSequence(yuy2_.callsOf("bad_descriptor.dll")),
            (std::vector<std::string>{"Version", "PR"}));
  for (const char* file :
       {"garbage.dll", "not_a_plugin.dll", "bad_version.dll", "bad_descriptor.dll"}) {
    const HostLine* line = yuy2_.findLog(std::string(file) + ":");
    ASSERT_NE(line, nullptr) << file;
    EXPECT_NE(line->event.find("skipped"), std::string::npos) << line->event;
    EXPECT_EQ(yuy2_.findLog(std::string("Init ") + file), nullptr);
  }
  EXPECT_NE(yuy2_.findLog("recorder_plugin.dll: loaded, version 3"), nullptr);

  // Without a Plugins folder the host still runs its video and exits cleanly.
  EXPECT_NE(bare_.findLog("no plug-ins in "), nullptr);
  EXPECT_GT(hostFrameCount(bare_), 10);
}

TEST_F(HostStandin, LogsEachCallWithItsThread) {
  const HostLine* loaded = yuy2_.findLog("recorder_plugin.dll: loaded");
  ASSERT_NE(loaded, nullptr);
  // The descriptor's short name is Windows-1251 text.
  EXPECT_NE(loaded->event.find("name \"Call recorder\", short name \"Запись\""), std::string::npos)
      << loaded->event;
  for (const char* call : {"Init ", "Start ", "ShowSettings ", "Stop ", "Done "})
    EXPECT_TRUE(yuy2_.hasLogLine(call + std::string("recorder_plugin.dll"), "UI")) << call;
  EXPECT_TRUE(yuy2_.hasLogLine("Frame recorder_plugin.dll first call", "video"));
  EXPECT_EQ(yuy2_.findLog("host command 1225, lParam 3 (sent from another thread)"), nullptr)
      << "posted, not sent";
  EXPECT_NE(yuy2_.findLog("host command 1225, lParam 0 (sent from another thread): tune to a "
                          "channel not in the list, ignored"),
            nullptr);
  EXPECT_NE(yuy2_.findLog("host command 1225, lParam 3: tuned to channel 2"), nullptr);
  EXPECT_NE(yuy2_.findLog("host command 1309, lParam 0: query"), nullptr);
}

TEST_F(HostStandin, RunsTheProductPluginBesideTheRecorder) {
  const HostRun& run = product_;
  ASSERT_NE(run.findLog("KVX_PiP.dll: loaded, version 3"), nullptr);
  // The product provides every entry point.
  for (const char* call : {"Init ", "Start ", "Stop ", "Done "})
    EXPECT_TRUE(run.hasLogLine(call + std::string("KVX_PiP.dll"), "UI")) << call;
  EXPECT_TRUE(run.hasLogLine("Frame KVX_PiP.dll first call", "video"));
  // Every plug-in is initialised before any starts, and stopped before any is done.
  for (const char* plugin : {"KVX_PiP.dll", "recorder_plugin.dll"}) {
    EXPECT_LT(run.logIndex(std::string("Init ") + plugin), run.logIndex("Start "));
    EXPECT_LT(run.logIndex(std::string("Stop ") + plugin), run.logIndex("Done "));
  }
}

}  // namespace
