#include "plugin/module_scope.h"

namespace kvx {
namespace {

thread_local HINSTANCE t_resourceModule = nullptr;

}  // namespace

HINSTANCE PluginModule() {
  static const HINSTANCE module = [] {
    HMODULE m = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&PluginModule), &m);
    return m;
  }();
  return module;
}

HINSTANCE ResourceModule() {
  return t_resourceModule;
}

ResourceScope::ResourceScope() : previous_(t_resourceModule) {
  t_resourceModule = PluginModule();
}

ResourceScope::~ResourceScope() {
  t_resourceModule = previous_;
}

}  // namespace kvx
