// recorder_plugin.dll: a plug-in that writes down every call the host makes, one line per call,
// to the file named by the environment variable KVX_RECORDER_LOG. Lines are the call's name and
// then tab-separated key=value fields; every line has module= (this copy's file name) and tid=.
// The host calls the exports, Init, Start, ShowSettings, Stop and Done on its UI thread and Frame
// on its video thread; both write to the log, hence the lock.
//
// It also drives the host from inside, as a plug-in would: Start sends the query command;
// frame 5 sends two tune commands for channels not in the list; frame 10 records the host's
// windows and posts a tune to channel position 2. Every frame gets a 4x4 checkerboard of 8-pixel
// green and magenta squares in its top-left corner, to find in the host's output.
//
// A copy whose file name contains "bad_version" answers version 2; one whose name contains
// "bad_descriptor" returns no descriptor.
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "plugin/host_records.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

std::mutex logLock;
HANDLE logFile = INVALID_HANDLE_VALUE;
bool logOpened = false;

kvx::HostCallbacks* hostCallbacks = nullptr;
kvx::HostStream stream{};
int channelTotal = 0;
uint32_t frameCount = 0;  // video thread

std::string utf8(const wchar_t* text, int length = -1) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  if (length < 0)
    out.resize(out.size() - 1);
  return out;
}

std::wstring moduleFile() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
  std::wstring file(path, length);
  return file.substr(file.find_last_of(L"\\/") + 1);
}

bool nameHas(const wchar_t* part) {
  return moduleFile().find(part) != std::wstring::npos;
}

class Fields {
 public:
  Fields& add(const char* key, const std::string& value) {
    text_ += std::string("\t") + key + "=" + value;
    return *this;
  }
  Fields& add(const char* key, long long value) { return add(key, std::to_string(value)); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

void record(const char* call, const Fields& fields = Fields()) {
  std::string line = std::string(call) + "\tmodule=" + utf8(moduleFile().c_str()) +
                     "\ttid=" + std::to_string(GetCurrentThreadId()) + fields.text() + "\n";
  std::lock_guard<std::mutex> guard(logLock);
  if (!logOpened) {
    logOpened = true;
    wchar_t path[1024];
    DWORD length = GetEnvironmentVariableW(L"KVX_RECORDER_LOG", path, 1024);
    if (length > 0 && length < 1024)
      logFile = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (logFile == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  WriteFile(logFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string className(HWND window) {
  wchar_t name[64] = L"";
  GetClassNameW(window, name, 64);
  return utf8(name);
}

std::string windowTitle(HWND window) {
  wchar_t title[128] = L"";
  int length = GetWindowTextW(window, title, 128);
  return utf8(title, length > 0 ? length : 0);
}

bool ownWindow(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return window != nullptr && process == GetCurrentProcessId();
}

// The top-level window of this process with the given class, whatever its title.
HWND findOwnWindow(const char* wantedClass) {
  struct Search {
    const char* wantedClass;
    HWND found;
  } search{wantedClass, nullptr};
  EnumWindows(
      [](HWND window, LPARAM context) WINAPI -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        if (ownWindow(window) && className(window) == s->wantedClass) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct Yuv {
  int y, u, v;
};
Yuv yuvOf(int r, int g, int b) {
  return {16 + ((66 * r + 129 * g + 25 * b + 128) >> 8),
          128 + ((-38 * r - 74 * g + 112 * b + 128) >> 8),
          128 + ((112 * r - 94 * g - 18 * b + 128) >> 8)};
}

void paintCheckerboard(uint8_t* pixels) {
  const int size = 32;
  if (stream.width < size || stream.height < size)
    return;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; x += 2) {
      bool green = (x / 8 + y / 8) % 2 == 0;
      int r = green ? 0 : 255, g = green ? 255 : 0, b = green ? 0 : 255;
      if (stream.format == kvx::kHostFormatRgb24) {
        uint8_t* row = pixels + static_cast<size_t>(stream.height - 1 - y) * stream.width * 3;
        for (int i = x; i < x + 2; ++i) {
          row[3 * i] = static_cast<uint8_t>(b);
          row[3 * i + 1] = static_cast<uint8_t>(g);
          row[3 * i + 2] = static_cast<uint8_t>(r);
        }
      } else {
        uint8_t* pair = pixels + (static_cast<size_t>(y) * stream.width + x) * 2;
        Yuv c = yuvOf(r, g, b);
        pair[0] = static_cast<uint8_t>(c.y);
        pair[1] = static_cast<uint8_t>(c.u);
        pair[2] = static_cast<uint8_t>(c.y);
        pair[3] = static_cast<uint8_t>(c.v);
      }
    }
  }
}

void KVX_CDECL init(kvx::HostCallbacks* callbacks) {
  hostCallbacks = callbacks;
  Fields fields;
  kvx::GetChannelFn get = callbacks != nullptr ? callbacks->getChannel : nullptr;
  fields.add("getChannel", get != nullptr ? 1 : 0);
  if (get != nullptr) {
    std::string list, names;
    int count = 0;
    for (kvx::HostChannel* channel; count < 1000 && (channel = get(count)) != nullptr; ++count) {
      list += (count ? "," : "") + std::to_string(channel->frequency) + "/" +
              std::to_string(channel->standard);
      char name[77] = {};
      memcpy(name, channel->hostOwned, 76);
      wchar_t wide[77] = {};
      MultiByteToWideChar(1251, 0, name, -1, wide, 77);
      names += (count ? "," : "") + utf8(wide);
    }
    channelTotal = count;
    fields.add("channels", count).add("list", list).add("names", names);
    fields.add("negative", get(-1) == nullptr ? "null" : "record");
  }
  record("Init", fields);
}

int32_t KVX_CDECL start(kvx::HostStream* hostStream) {
  stream = *hostStream;
  HWND main = findOwnWindow("TMain");
  LRESULT answer =
      main != nullptr ? SendMessageW(main, kvx::kWmHostCommand, kvx::kHostCommandQuery, 0) : 0;
  record("Start", Fields()
                      .add("width", stream.width)
                      .add("height", stream.height)
                      .add("reserved", stream.reserved)
                      .add("format", stream.format)
                      .add("mode", stream.mode)
                      .add("mainFound", main != nullptr ? 1 : 0)
                      .add("query", static_cast<long long>(answer)));
  return 1;
}

void tuneInvalid(HWND main, LPARAM argument) {
  DWORD_PTR result = 0;
  LRESULT sent = SendMessageTimeoutW(main, kvx::kWmHostCommand, kvx::kHostCommandTuneChannel,
                                     argument, SMTO_NORMAL, 5000, &result);
  record("Command", Fields()
                        .add("kind", "tune")
                        .add("lparam", static_cast<long long>(argument))
                        .add("sent", sent != 0 ? 1 : 0)
                        .add("result", static_cast<long long>(result)));
}

void recordWindows(HWND main) {
  HWND frame = findOwnWindow("TVideoFrame");
  HWND child =
      frame != nullptr ? FindWindowExW(frame, nullptr, nullptr, L"ActiveMovie Window") : nullptr;
  RECT frameClient{}, childClient{};
  GetClientRect(frame, &frameClient);
  GetClientRect(child, &childClient);
  bool fills = child != nullptr && childClient.right == frameClient.right &&
               childClient.bottom == frameClient.bottom;
  record("Windows", Fields()
                        .add("main", windowTitle(main))
                        .add("video", windowTitle(frame))
                        .add("owner", GetWindow(frame, GW_OWNER) == main ? 1 : 0)
                        .add("child", child != nullptr ? 1 : 0)
                        .add("childFills", fills ? 1 : 0));
}

int32_t KVX_CDECL frame(kvx::HostFrame* hostFrame) {
  ++frameCount;
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  Fields fields;
  fields.add("n", frameCount).add("ms", now.QuadPart * 1000 / frequency.QuadPart);
  const kvx::HostChannelState* state = hostFrame->channelState;
  fields.add("pixels", hostFrame->pixels != nullptr ? 1 : 0).add("state", state ? 1 : 0);
  if (state != nullptr)
    fields.add("stamp1", state->stamp1)
        .add("stamp2", state->stamp2)
        .add("position", state->position);
  if (hostFrame->pixels != nullptr) {
    size_t bytes = static_cast<size_t>(stream.width) * stream.height *
                   (stream.format == kvx::kHostFormatRgb24 ? 3 : 2);
    uint32_t hash = 2166136261u;
    long long outOfRange = 0;
    for (size_t i = 0; i < bytes; ++i) {
      uint8_t value = hostFrame->pixels[i];
      hash = (hash ^ value) * 16777619u;
      if (stream.format == kvx::kHostFormatYuy2 && (value < 16 || value > (i % 2 ? 240 : 235)))
        ++outOfRange;
    }
    fields.add("hash", hash).add("outOfRange", outOfRange);
    paintCheckerboard(hostFrame->pixels);
  }
  record("Frame", fields);

  HWND main = frameCount == 5 || frameCount == 10 ? findOwnWindow("TMain") : nullptr;
  if (frameCount == 5 && main != nullptr) {
    tuneInvalid(main, 0);
    tuneInvalid(main, channelTotal + 1);
  }
  if (frameCount == 10 && main != nullptr) {
    recordWindows(main);
    BOOL posted = PostMessageW(main, kvx::kWmHostCommand, kvx::kHostCommandTuneChannel, 3);
    record("Command", Fields().add("kind", "tune").add("lparam", 3).add("posted", posted ? 1 : 0));
  }
  return 1;
}

void KVX_CDECL stop() {
  record("Stop", Fields().add("frames", frameCount));
}

void KVX_CDECL showSettings(void* parent) {
  HWND window = parent != nullptr ? *static_cast<HWND*>(parent) : nullptr;
  record(
      "ShowSettings",
      Fields().add("parentClass", className(window)).add("parentOwn", ownWindow(window) ? 1 : 0));
}

void KVX_CDECL done() {
  record("Done");
}

// "Запись" in Windows-1251.
const kvx::PluginDescriptor descriptor{"Call recorder", "\xC7\xE0\xEF\xE8\xF1\xFC",
                                       &init,           &start,
                                       &frame,          &stop,
                                       &showSettings,   &done};

}  // namespace

extern "C" int32_t KVX_CDECL Zorvinta_Plugin_Version() {
  int32_t version = nameHas(L"bad_version") ? 2 : kvx::kPluginInterfaceVersion;
  record("Version", Fields().add("result", version));
  return version;
}

extern "C" const kvx::PluginDescriptor* KVX_CDECL Zorvinta_Plugin_PR() {
  const kvx::PluginDescriptor* result = nameHas(L"bad_descriptor") ? nullptr : &descriptor;
  record("PR", Fields().add("result", result != nullptr ? "descriptor" : "null"));
  return result;
}
