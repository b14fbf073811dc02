// The host's command line. Parsed once on the UI thread before anything else starts.
//   /inst:X or -inst:X      instance id X: window titles gain ".Inst" + lower-case X
//   /nochild                no "ActiveMovie Window" child; the frame window shows the video
//   /channel:N              start on channel N (0-based)
//   /format:yuy2|rgb24      stream format, YUY2 by default
//   /size:WxH               stream size, 720x576 by default (W even)
//   /mode:N                 the stream's mode word, 0 by default
//   /save:<folder>          save every n-th processed frame as frame_NNNN.png
//   /saveevery:N            n for /save, 25 by default
//   /screenshot:<file.png>  save the screen just before exit
//   /settings               call every plug-in's ShowSettings once the video runs
//   /seconds:N              exit after N seconds, as if the main window were closed
//   /log:<file>             append UTF-8 event lines
//   /input:<script>         user input sent once the video runs (tools/host/input_script.h)
// Options start with '/' or '-'; names are case-insensitive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zhost {

struct Options {
  wchar_t instance = 0;  // 0: no instance suffix
  bool noChild = false;
  int channel = 0;
  int32_t format = 0;
  int width = 720;
  int height = 576;
  int32_t mode = 0;
  std::wstring saveFolder;
  int saveEvery = 25;
  std::wstring screenshot;
  bool settings = false;
  int seconds = 0;  // 0: run until closed
  std::wstring logFile;
  std::wstring input;
};

// args excludes the program name. Returns an error text, empty when every argument was understood.
std::wstring parseOptions(const std::vector<std::wstring>& args, Options& options);

}  // namespace zhost
