#include "hotkeys/hotkey_table.h"

#include "plugin/host_records.h"

namespace kvx {
namespace {

// Display names are Windows-1251; the comments show them.
constexpr HotkeyRow kRows[kHotkeyCount] = {
    {"HK_PiPOnOff", "\xC2\xEA\xEB/\xC2\xFB\xEA\xEB PiP", 0x0250, HotkeyCommand::kTogglePiP, 0,
     &PipSettings::HK_PiPOnOff},  // Вкл/Выкл PiP
    {"HK_PiPNextChannel", "\xD1\xEB\xE5\xE4\xF3\xFE\xF9\xE8\xE9 \xEA\xE0\xED\xE0\xEB", 0x0C26,
     HotkeyCommand::kNextChannel, 0, &PipSettings::HK_PiPNextChannel},  // Следующий канал
    {"HK_PiPPrevChannel", "\xCF\xF0\xE5\xE4\xFB\xE4\xF3\xF9\xE8\xE9 \xEA\xE0\xED\xE0\xEB", 0x0C28,
     HotkeyCommand::kPrevChannel, 0, &PipSettings::HK_PiPPrevChannel},  // Предыдущий канал
    {"HK_PiPSetChannel_01", "\xCA\xE0\xED\xE0\xEB 1", 0x0461, HotkeyCommand::kSetChannel, 0,
     &PipSettings::HK_PiPSetChannel_01},  // Канал 1
    {"HK_PiPSetChannel_02", "\xCA\xE0\xED\xE0\xEB 2", 0x0462, HotkeyCommand::kSetChannel, 1,
     &PipSettings::HK_PiPSetChannel_02},  // Канал 2
    {"HK_PiPSetChannel_03", "\xCA\xE0\xED\xE0\xEB 3", 0x0463, HotkeyCommand::kSetChannel, 2,
     &PipSettings::HK_PiPSetChannel_03},  // Канал 3
    {"HK_PiPSetChannel_04", "\xCA\xE0\xED\xE0\xEB 4", 0x0464, HotkeyCommand::kSetChannel, 3,
     &PipSettings::HK_PiPSetChannel_04},  // Канал 4
    {"HK_PiPSetChannel_05", "\xCA\xE0\xED\xE0\xEB 5", 0x0465, HotkeyCommand::kSetChannel, 4,
     &PipSettings::HK_PiPSetChannel_05},  // Канал 5
    {"HK_PiPSetChannel_06", "\xCA\xE0\xED\xE0\xEB 6", 0x0466, HotkeyCommand::kSetChannel, 5,
     &PipSettings::HK_PiPSetChannel_06},  // Канал 6
    {"HK_PiPSetChannel_07", "\xCA\xE0\xED\xE0\xEB 7", 0x0467, HotkeyCommand::kSetChannel, 6,
     &PipSettings::HK_PiPSetChannel_07},  // Канал 7
    {"HK_PiPSetChannel_08", "\xCA\xE0\xED\xE0\xEB 8", 0x0468, HotkeyCommand::kSetChannel, 7,
     &PipSettings::HK_PiPSetChannel_08},  // Канал 8
    {"HK_PiPSetChannel_09", "\xCA\xE0\xED\xE0\xEB 9", 0x0469, HotkeyCommand::kSetChannel, 8,
     &PipSettings::HK_PiPSetChannel_09},  // Канал 9
    {"HK_PiPSetChannel_10", "\xCA\xE0\xED\xE0\xEB 10", 0x0660, HotkeyCommand::kSetChannel, 9,
     &PipSettings::HK_PiPSetChannel_10},  // Канал 10
    {"HK_PiPSetChannel_11", "\xCA\xE0\xED\xE0\xEB 11", 0x0661, HotkeyCommand::kSetChannel, 10,
     &PipSettings::HK_PiPSetChannel_11},  // Канал 11
    {"HK_PiPSetChannel_12", "\xCA\xE0\xED\xE0\xEB 12", 0x0662, HotkeyCommand::kSetChannel, 11,
     &PipSettings::HK_PiPSetChannel_12},  // Канал 12
    {"HK_PiPSetChannel_13", "\xCA\xE0\xED\xE0\xEB 13", 0x0663, HotkeyCommand::kSetChannel, 12,
     &PipSettings::HK_PiPSetChannel_13},  // Канал 13
    {"HK_PiPSetChannel_14", "\xCA\xE0\xED\xE0\xEB 14", 0x0664, HotkeyCommand::kSetChannel, 13,
     &PipSettings::HK_PiPSetChannel_14},  // Канал 14
    {"HK_PiPSetChannel_15", "\xCA\xE0\xED\xE0\xEB 15", 0x0665, HotkeyCommand::kSetChannel, 14,
     &PipSettings::HK_PiPSetChannel_15},  // Канал 15
    {"HK_PiPSetChannel_16", "\xCA\xE0\xED\xE0\xEB 16", 0x0666, HotkeyCommand::kSetChannel, 15,
     &PipSettings::HK_PiPSetChannel_16},  // Канал 16
    {"HK_PiPSetChannel_17", "\xCA\xE0\xED\xE0\xEB 17", 0x0667, HotkeyCommand::kSetChannel, 16,
     &PipSettings::HK_PiPSetChannel_17},  // Канал 17
    {"HK_PiPSetChannel_18", "\xCA\xE0\xED\xE0\xEB 18", 0x0668, HotkeyCommand::kSetChannel, 17,
     &PipSettings::HK_PiPSetChannel_18},  // Канал 18
    {"HK_PiPSetChannel_19", "\xCA\xE0\xED\xE0\xEB 19", 0x0669, HotkeyCommand::kSetChannel, 18,
     &PipSettings::HK_PiPSetChannel_19},  // Канал 19
    {"HK_PiPSetTVMode", "\xD0\xE5\xE6\xE8\xEC TV", 0x0A21, HotkeyCommand::kSetTVChannel, 0,
     &PipSettings::HK_PiPSetTVMode},  // Режим TV
    {"HK_PiPSetVHSMode", "\xD0\xE5\xE6\xE8\xEC VHS", 0x0A2D, HotkeyCommand::kSetChannel,
     kSourceComposite, &PipSettings::HK_PiPSetVHSMode},  // Режим VHS
    {"HK_PiPSetSVHSMode", "\xD0\xE5\xE6\xE8\xEC S-VHS", 0x0A24, HotkeyCommand::kSetChannel,
     kSourceSVideo, &PipSettings::HK_PiPSetSVHSMode},  // Режим S-VHS
    {"HK_PiPChannelSwap", "\xCF\xEE\xEC\xE5\xED\xFF\xF2\xFC \xEA\xE0\xED\xE0\xEB\xFB", 0x0258,
     HotkeyCommand::kSwapChannels, 0, &PipSettings::HK_PiPChannelSwap},  // Поменять каналы
    {"HK_PiPWndShiftLeft", "\xD1\xE4\xE2\xE8\xE3 \xEE\xEA\xED\xE0 \xE2\xEB\xE5\xE2\xEE", 0x0A25,
     HotkeyCommand::kShiftLeft, 0, &PipSettings::HK_PiPWndShiftLeft},  // Сдвиг окна влево
    {"HK_PiPWndShiftRight", "\xD1\xE4\xE2\xE8\xE3 \xEE\xEA\xED\xE0 \xE2\xEF\xF0\xE0\xE2\xEE",
     0x0A27, HotkeyCommand::kShiftRight, 0,
     &PipSettings::HK_PiPWndShiftRight},  // Сдвиг окна вправо
    {"HK_PiPWndShiftUp", "\xD1\xE4\xE2\xE8\xE3 \xEE\xEA\xED\xE0 \xE2\xE2\xE5\xF0\xF5", 0x0A26,
     HotkeyCommand::kShiftUp, 0, &PipSettings::HK_PiPWndShiftUp},  // Сдвиг окна вверх
    {"HK_PiPWndShiftDown", "\xD1\xE4\xE2\xE8\xE3 \xEE\xEA\xED\xE0 \xE2\xED\xE8\xE7", 0x0A28,
     HotkeyCommand::kShiftDown, 0, &PipSettings::HK_PiPWndShiftDown},  // Сдвиг окна вниз
    {"HK_PiPWndSizePlus", "\xD0\xE0\xE7\xEC\xE5\xF0 \xEE\xEA\xED\xE0 +", 0x026B,
     HotkeyCommand::kSizePlus, 0, &PipSettings::HK_PiPWndSizePlus},  // Размер окна +
    {"HK_PiPWndSizeMinus", "\xD0\xE0\xE7\xEC\xE5\xF0 \xEE\xEA\xED\xE0 -", 0x026D,
     HotkeyCommand::kSizeMinus, 0, &PipSettings::HK_PiPWndSizeMinus},  // Размер окна -
    {"HK_PiPWndOpacityPlus", "\xCF\xF0\xEE\xE7\xF0\xE0\xF7\xED\xEE\xF1\xF2\xFC \xEE\xEA\xED\xE0 +",
     0x026A, HotkeyCommand::kOpacityPlus, 0,
     &PipSettings::HK_PiPWndOpacityPlus},  // Прозрачность окна +
    {"HK_PiPWndOpacityMinus", "\xCF\xF0\xEE\xE7\xF0\xE0\xF7\xED\xEE\xF1\xF2\xFC \xEE\xEA\xED\xE0 -",
     0x0A6F, HotkeyCommand::kOpacityMinus, 0,
     &PipSettings::HK_PiPWndOpacityMinus},  // Прозрачность окна -
};

}  // namespace

std::span<const HotkeyRow, kHotkeyCount> HotkeyRows() {
  return kRows;
}

}  // namespace kvx
