// not_a_plugin.dll: a valid DLL without the plug-in exports, which the host must skip.
extern "C" int NotAPlugin_Answer() {
  return 42;
}
