// The two functions the host looks up by name. Neither needs the module's resources.
#include <cstdint>

#include "plugin/plugin.h"

extern "C" int32_t KVX_CDECL Zorvinta_Plugin_Version() {
  return kvx::kPluginInterfaceVersion;
}

extern "C" const kvx::PluginDescriptor* KVX_CDECL Zorvinta_Plugin_PR() {
  return kvx::Descriptor();
}
