#include "base/module_scope.h"

#include "base/thread_slot.h"

namespace kvx {
namespace {

ThreadSlot<HINSTANCE> t_resourceModule;

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
  return t_resourceModule.Get();
}

ResourceScope::ResourceScope() : previous_(t_resourceModule.Get()) {
  t_resourceModule.Set(PluginModule());
}

ResourceScope::~ResourceScope() {
  t_resourceModule.Set(previous_);
}

}  // namespace kvx
