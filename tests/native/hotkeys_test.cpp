#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hotkeys/hotkey_table.h"
#include "hotkeys/hotkey_text.h"
#include "plugin/host_records.h"

namespace kvx {
namespace {

// UTF-8 to Windows-1251 for the Russian letters, Ё and ASCII; anything else becomes '?'.
std::string Cp1251(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    const unsigned code = (c & 0x1F) << 6 | (static_cast<unsigned char>(utf8[++i]) & 0x3F);
    if (code >= 0x410 && code <= 0x44F) {
      out += static_cast<char>(code - 0x410 + 0xC0);
    } else if (code == 0x401 || code == 0x451) {
      out += static_cast<char>(code == 0x401 ? 0xA8 : 0xB8);
    } else {
      out += '?';
    }
  }
  return out;
}

TEST(HotkeyTable, ThirtyFourRowsInTheirFixedOrder) {
  struct Expected {
    std::string key;
    std::string name;  // UTF-8
    uint32_t code;
    HotkeyCommand command;
    int32_t source;
  };
  using C = HotkeyCommand;
  std::vector<Expected> expected = {
      {"HK_PiPOnOff", "Вкл/Выкл PiP", 592, C::kTogglePiP, 0},
      {"HK_PiPNextChannel", "Следующий канал", 3110, C::kNextChannel, 0},
      {"HK_PiPPrevChannel", "Предыдущий канал", 3112, C::kPrevChannel, 0},
  };
  const uint32_t channelCodes[] = {1121, 1122, 1123, 1124, 1125, 1126, 1127, 1128, 1129, 1632,
                                   1633, 1634, 1635, 1636, 1637, 1638, 1639, 1640, 1641};
  for (int i = 0; i < 19; ++i) {
    const std::string number = std::to_string(i + 1);
    expected.push_back({"HK_PiPSetChannel_" + std::string(i < 9 ? "0" : "") + number,
                        "Канал " + number, channelCodes[i], C::kSetChannel, i});
  }
  const Expected rest[] = {
      {"HK_PiPSetTVMode", "Режим TV", 2593, C::kSetTVChannel, 0},
      {"HK_PiPSetVHSMode", "Режим VHS", 2605, C::kSetChannel, kSourceComposite},
      {"HK_PiPSetSVHSMode", "Режим S-VHS", 2596, C::kSetChannel, kSourceSVideo},
      {"HK_PiPChannelSwap", "Поменять каналы", 600, C::kSwapChannels, 0},
      {"HK_PiPWndShiftLeft", "Сдвиг окна влево", 2597, C::kShiftLeft, 0},
      {"HK_PiPWndShiftRight", "Сдвиг окна вправо", 2599, C::kShiftRight, 0},
      {"HK_PiPWndShiftUp", "Сдвиг окна вверх", 2598, C::kShiftUp, 0},
      {"HK_PiPWndShiftDown", "Сдвиг окна вниз", 2600, C::kShiftDown, 0},
      {"HK_PiPWndSizePlus", "Размер окна +", 619, C::kSizePlus, 0},
      {"HK_PiPWndSizeMinus", "Размер окна -", 621, C::kSizeMinus, 0},
      {"HK_PiPWndOpacityPlus", "Прозрачность окна +", 618, C::kOpacityPlus, 0},
      {"HK_PiPWndOpacityMinus", "Прозрачность окна -", 2671, C::kOpacityMinus, 0},
  };
  expected.insert(expected.end(), std::begin(rest), std::end(rest));

  const auto rows = HotkeyRows();
  ASSERT_EQ(expected.size(), rows.size());
  const PipSettings defaults = PipSettings::Defaults();
  const auto settingRows = SettingRows();
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(expected[i].key);
    EXPECT_EQ(rows[i].key, expected[i].key);
    EXPECT_EQ(rows[i].displayName, Cp1251(expected[i].name));
    EXPECT_EQ(rows[i].defaultCode, expected[i].code);
    EXPECT_EQ(rows[i].command, expected[i].command);
    EXPECT_EQ(rows[i].source, expected[i].source);
    // The settings hold the row's code under its key, right after HotKeysEnable.
    EXPECT_EQ(defaults.*rows[i].field, expected[i].code);
    EXPECT_EQ(settingRows[23 + i].key, expected[i].key);
  }
}

TEST(HotkeyTable, CodesPackKeyAndModifiers) {
  EXPECT_EQ(MakeHotkeyCode('P', kHotkeyControl), 0x0250u);
  EXPECT_EQ(MakeHotkeyCode(0x26, kHotkeyAlt | kHotkeyExtended), 0x0C26u);
  EXPECT_EQ(MakeHotkeyCode(0x1FF, 0x107), 0x07FFu);
}

// Names of a made-up layout; an extended key is named apart from its plain twin.
std::vector<std::pair<int, bool>> g_asked;
std::wstring FakeName(uint8_t key, bool extended) {
  g_asked.emplace_back(key, extended);
  switch (key) {
    case 0x10:
      return L"Shift";
    case 0x11:
      return L"Ctrl";
    case 0x12:
      return L"Alt";
    case 0x6F:
      return extended ? L"Num /" : L"/";
    case 0x26:
      return extended ? L"Up" : L"Num 8";
    default:
      return std::wstring(1, static_cast<wchar_t>(key));
  }
}

TEST(HotkeyText, NamesModifiersInAFixedOrderThenTheKey) {
  struct Case {
    uint32_t code;
    std::wstring text;
  };
  const Case cases[] = {
      {0, L""},
      {0x0250, L"Ctrl + P"},
      {0x0050, L"P"},
      {0x0741, L"Ctrl + Shift + Alt + A"},
      {0x0541, L"Shift + Alt + A"},
      {0x0A6F, L"Ctrl + Num /"},
      {0x026F, L"Ctrl + /"},
      {0x0C26, L"Alt + Up"},
      {0x0426, L"Alt + Num 8"},
      // Modifiers alone end with their separator.
      {0x0600, L"Ctrl + Alt + "},
      {0x0800, L""},
      // Bits 16-31 change nothing.
      {0xFFFF0250, L"Ctrl + P"},
      {0x00010000, L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HotkeyText(c.code, &FakeName), c.text) << std::hex << c.code;
  }
}

TEST(HotkeyText, ModifiersAreNeverLookedUpExtended) {
  g_asked.clear();
  HotkeyText(0x0F6F, &FakeName);
  const std::vector<std::pair<int, bool>> expected = {
      {0x11, false}, {0x10, false}, {0x12, false}, {0x6F, true}};
  EXPECT_EQ(g_asked, expected);
  // Nothing is looked up for key 0.
  g_asked.clear();
  HotkeyText(0x0100, &FakeName);
  EXPECT_EQ(g_asked, (std::vector<std::pair<int, bool>>{{0x10, false}}));
}

}  // namespace
}  // namespace kvx

namespace kvx {
namespace {

TEST(StandardKeyName, NamesKeysAsAnEnglishLayoutDoes) {
  struct Case {
    uint8_t key;
    bool extended;
    std::wstring name;
  };
  const Case cases[] = {
      {'P', false, L"P"},      {'7', true, L"7"},       {0x11, true, L"Ctrl"},
      {0x26, true, L"Up"},     {0x26, false, L"Num 8"}, {0x21, true, L"Page Up"},
      {0x2D, false, L"Num 0"}, {0x6F, true, L"Num /"},  {0x6F, false, L"/"},
      {0x60, false, L"Num 0"}, {0x69, true, L"Num 9"},  {0x6B, false, L"Num +"},
      {0x70, false, L"F1"},    {0x87, false, L"F24"},   {0x0D, true, L"Num Enter"},
      {0x00, false, L""},      {0xFF, true, L""},       {0x5B, true, L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StandardKeyName(c.key, c.extended), c.name) << int{c.key} << " " << c.extended;
  }
  // Every default ends in a named key: the read-me's table shows none empty.
  for (const HotkeyRow& row : HotkeyRows()) {
    EXPECT_FALSE(StandardKeyName(row.defaultCode & 0xFF, row.defaultCode & 0x800).empty())
        << row.key;
  }
}

}  // namespace
}  // namespace kvx
