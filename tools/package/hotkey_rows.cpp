// Prints the product's hotkey table with each command's default key as the read-me names it:
// one line per row, "<settings key>\t<command, Windows-1251>\t<default key>". Fails on a default
// that has no name, so the read-me never shows an empty key.
#include <cstdio>
#include <string>

#include "hotkeys/hotkey_table.h"
#include "hotkeys/hotkey_text.h"

int main() {
  for (const kvx::HotkeyRow& row : kvx::HotkeyRows()) {
    const std::wstring text = kvx::HotkeyText(row.defaultCode, &kvx::StandardKeyName);
    std::string key;
    for (const wchar_t c : text) {
      if (c < 0x20 || c > 0x7E) {
        std::fprintf(stderr, "%s: no plain name for its default key\n", row.key);
        return 1;
      }
      key += static_cast<char>(c);
    }
    if (key.empty() || key.back() == ' ') {
      std::fprintf(stderr, "%s: its default key 0x%04X has no name\n", row.key,
                   static_cast<unsigned>(row.defaultCode));
      return 1;
    }
    std::printf("%s\t%s\t%s\n", row.key, row.displayName, key.c_str());
  }
  return 0;
}
