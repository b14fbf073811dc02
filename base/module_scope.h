// The plug-in's own module as the source of dialog templates and strings.
//
// Every entry point makes the plug-in's module current for the length of the call and restores
// the caller's afterwards. The current module is per thread, as entry points run on the host's
// user-interface thread and on its frame thread at once.
#pragma once

#include <windows.h>

namespace kvx {

// The module this code is linked into.
HINSTANCE PluginModule();
// The module resources are loaded from on this thread; null outside any entry point.
HINSTANCE ResourceModule();

class ResourceScope {
 public:
  ResourceScope();
  ~ResourceScope();
  ResourceScope(const ResourceScope&) = delete;
  ResourceScope& operator=(const ResourceScope&) = delete;

 private:
  HINSTANCE previous_;
};

}  // namespace kvx
