#include "tools/host/channels.h"

#include <windows.h>

#include <cstring>
#include <iterator>

namespace zhost {
namespace {

constexpr ChannelInfo kChannels[] = {
    {L"R1", L"Первый канал", 49750000, 1}, {L"R2", L"Россия 1", 59250000, 1},
    {L"R3", L"ТВ Центр", 77250000, 0},     {L"R6", L"НТВ", 175250000, 1},
    {L"R7", L"Культура", 183250000, 1},    {L"R11", L"Пятый канал", 215250000, 0},
    {L"E2", L"Das Erste", 48250000, 2},    {L"E6", L"ZDF", 182250000, 2},
    {L"E9", L"ORF 1", 203250000, 2},       {L"UHF 21", L"СТС", 471250000, 1},
    {L"UHF 27", L"Rai 1", 519250000, 2},   {L"UHF 39", L"Euronews", 615250000, 0},
    {L"UHF 60", L"ТНТ", 783250000, 1},
};
constexpr int kCount = static_cast<int>(std::size(kChannels));

kvx::HostChannel records[kCount];

}  // namespace

void buildChannels() {
  for (int i = 0; i < kCount; ++i) {
    // The host keeps the name as Windows-1251 text in the bytes it owns.
    std::memset(&records[i], 0, sizeof(records[i]));
    WideCharToMultiByte(1251, 0, kChannels[i].name, -1,
                        reinterpret_cast<char*>(records[i].hostOwned),
                        sizeof(records[i].hostOwned) - 1, nullptr, nullptr);
    records[i].frequency = kChannels[i].frequency;
    records[i].standard = kChannels[i].standard;
  }
}

int channelCount() {
  return kCount;
}

const ChannelInfo& channelInfo(int position) {
  return kChannels[position];
}

const wchar_t* standardName(int32_t standard) {
  switch (standard) {
    case 1:
      return L"SECAM";
    case 2:
      return L"PAL";
    default:
      return L"-";
  }
}

kvx::HostChannel* KVX_CDECL getChannel(int32_t position) {
  if (position < 0 || position >= kCount)
    return nullptr;
  return &records[position];
}

}  // namespace zhost
