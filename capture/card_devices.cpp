#include "capture/card_devices.h"

#include <windows.h>
#include <dshow.h>
#include <ks.h>
#include <ksmedia.h>
// IKsPin is declared only for code built on DirectShow's stream classes, which announce
// themselves this way; the interface itself needs nothing of theirs.
#ifndef __STREAMS__
#define __STREAMS__
#endif
#include <ksproxy.h>

#include <vector>

#include "capture/device_list.h"
#include "video/com_ptr.h"

namespace kvx {
namespace {

struct Medium {
  GUID set;
  ULONG id;
};

// The standard medium says only "any wire": it joins nothing.
constexpr GUID kStandardMedium = {
    0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

const GUID* const kCategories[kDeviceKindCount] = {&AM_KSCATEGORY_TVTUNER, &AM_KSCATEGORY_TVAUDIO,
                                                   &AM_KSCATEGORY_CROSSBAR,
                                                   &CLSID_VideoInputDeviceCategory};

// The mediums the filter's pins of this direction publish.
std::vector<Medium> MediumsOf(IBaseFilter* filter, PIN_DIRECTION direction) {
  std::vector<Medium> mediums;
  ComPtr<IEnumPins> pins;
  if (filter == nullptr || FAILED(filter->EnumPins(pins.put())) || !pins) {
    return mediums;
  }
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.put(), nullptr) == S_OK) {
    PIN_DIRECTION dir;
    ComPtr<IKsPin> ks;
    KSMULTIPLE_ITEM* list = nullptr;
    if (!pin || FAILED(pin->QueryDirection(&dir)) || dir != direction ||
        FAILED(pin->QueryInterface(__uuidof(IKsPin), ks.put_void())) ||
        FAILED(ks->KsQueryMediums(&list)) || list == nullptr) {
      continue;
    }
    // The list says its own size; a driver's count beyond it is not followed.
    const ULONG fits = list->Size > sizeof(KSMULTIPLE_ITEM)
                           ? (list->Size - sizeof(KSMULTIPLE_ITEM)) / sizeof(KSPIN_MEDIUM)
                           : 0;
    const auto* items = reinterpret_cast<const KSPIN_MEDIUM*>(list + 1);
    for (ULONG i = 0; i < list->Count && i < fits; ++i) {
      if (items[i].Set != kStandardMedium && items[i].Set != GUID_NULL) {
        mediums.push_back({items[i].Set, items[i].Id});
      }
    }
    CoTaskMemFree(list);
  }
  return mediums;
}

bool Joined(const std::vector<Medium>& a, const std::vector<Medium>& b) {
  for (const Medium& x : a) {
    for (const Medium& y : b) {
      if (x.set == y.set && x.id == y.id) {
        return true;
      }
    }
  }
  return false;
}

struct Candidate {
  int row = -1;
  std::vector<Medium> in;
  std::vector<Medium> out;
};

// The first row of the kind one of whose pins shares a medium with `to`: an output pin when
// `output`, else an input pin.
Candidate JoinedRow(DeviceKind kind, const DeviceList& list, bool output,
                    const std::vector<Medium>& to) {
  if (to.empty()) {
    return {};
  }
  for (size_t row = 1; row < list.size(); ++row) {
    ComPtr<IBaseFilter> filter =
        BindListedDevice(*kCategories[static_cast<int>(kind)], list[row].path);
    Candidate c{static_cast<int>(row), MediumsOf(filter.get(), PINDIR_INPUT),
                MediumsOf(filter.get(), PINDIR_OUTPUT)};
    if (Joined(output ? c.out : c.in, to)) {
      return c;
    }
  }
  return {};
}

}  // namespace

CardRows CardOf(const DeviceList (&lists)[kDeviceKindCount], const std::string& capturePath) {
  CardRows rows;
  const DeviceList& captures = lists[static_cast<int>(DeviceKind::kCapture)];
  std::vector<Medium> captureIn;
  {
    ComPtr<IBaseFilter> capture = BindListedDevice(CLSID_VideoInputDeviceCategory, capturePath);
    captureIn = MediumsOf(capture.get(), PINDIR_INPUT);
  }
  const Candidate crossbar = JoinedRow(
      DeviceKind::kCrossbar, lists[static_cast<int>(DeviceKind::kCrossbar)], true, captureIn);
  const Candidate tuner =
      JoinedRow(DeviceKind::kTuner, lists[static_cast<int>(DeviceKind::kTuner)], true, crossbar.in);
  // TV audio sits between the tuner's audio output and the crossbar's audio input.
  Candidate audio = JoinedRow(DeviceKind::kTvAudio, lists[static_cast<int>(DeviceKind::kTvAudio)],
                              false, tuner.out);
  if (audio.row < 0) {
    audio = JoinedRow(DeviceKind::kTvAudio, lists[static_cast<int>(DeviceKind::kTvAudio)], true,
                      crossbar.in);
  }
  rows.row[static_cast<int>(DeviceKind::kTuner)] = tuner.row;
  rows.row[static_cast<int>(DeviceKind::kTvAudio)] = audio.row;
  rows.row[static_cast<int>(DeviceKind::kCrossbar)] = crossbar.row;
  for (int kind = 0; kind < kDeviceKindCount; ++kind) {
    if (kind != static_cast<int>(DeviceKind::kCapture) && rows.row[kind] < 0) {
      rows.row[kind] = SameCardRow(lists[kind], captures, capturePath);
    }
  }
  return rows;
}

}  // namespace kvx
