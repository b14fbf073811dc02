#include "tools/tv_card/card.h"

#include <ks.h>
#include <ksmedia.h>

#include <cwchar>
#include <string>

namespace tvcard {
namespace {

// Guards the table; taken by whichever thread creates or loads a filter.
std::mutex g_cardsLock;
std::weak_ptr<CardState> g_cards[kLastCard];

}  // namespace

bool FaultOn(const wchar_t* name) {
  wchar_t value[512];
  const DWORD n = GetEnvironmentVariableW(kFaultVariable, value, 512);
  if (n == 0 || n >= 512) {
    return false;
  }
  const size_t length = std::wcslen(name);
  for (const wchar_t* token = value; *token != L'\0';) {
    const wchar_t* end = token + std::wcscspn(token, L", ");
    if (static_cast<size_t>(end - token) == length && std::wcsncmp(token, name, length) == 0) {
      return true;
    }
    token = *end != L'\0' ? end + 1 : end;
  }
  return false;
}

REFERENCE_TIME FrameInterval(LONG standard) {
  return LinesOf(standard) == 525 ? 333667 : 400000;
}

LONG LinesOf(LONG standard) {
  constexpr LONG k525 = AnalogVideo_NTSC_M | AnalogVideo_NTSC_M_J | AnalogVideo_NTSC_433 |
                        AnalogVideo_PAL_M | AnalogVideo_PAL_60;
  return (standard & k525) != 0 ? 525 : 625;
}

CardState::CardState(int number)
    : hasTvMode(!FaultOn(fault::kNoTvMode)),
      tunerMode(hasTvMode ? KSPROPERTY_TUNER_MODE_TV : KSPROPERTY_TUNER_MODE_FM_RADIO),
      number_(number) {
  // The USB grabber's one input is its composite socket.
  if (number == kUsbCard) {
    videoRoute = kInputComposite;
  }
}

Scene CardState::CurrentScene() {
  std::lock_guard<std::mutex> hold(lock);
  switch (videoRoute) {
    case kInputTunerVideo: {
      const bool receiving =
          tunerMode == KSPROPERTY_TUNER_MODE_TV && tunerInput == 0 && IsStation(frequency);
      return {receiving ? SceneKind::kStation : SceneKind::kSnow, frequency};
    }
    case kInputComposite:
      return {SceneKind::kColourBars, 0};
    case kInputSVideo:
      return {SceneKind::kGradient, 0};
    default:
      return {SceneKind::kBlack, 0};
  }
}

std::shared_ptr<CardState> OpenCard(int number) {
  if (number < 1 || number > kLastCard) {
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(g_cardsLock);
  std::shared_ptr<CardState> card = g_cards[number - 1].lock();
  if (!card) {
    card = std::make_shared<CardState>(number);
    g_cards[number - 1] = card;
  }
  return card;
}

}  // namespace tvcard
