// The virtual TV card's fault switches, each doing what it claims and nothing else.
#include <windows.h>
#include <dshow.h>
#include <ks.h>
#include <ksmedia.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "tests/win/support/com_test.h"
#include "tests/win/support/frame_sink.h"
#include "tests/win/support/tv_card.h"
#include "tools/tv_card/tv_card.h"

namespace kvx::test {
namespace {

namespace fault = tvcard::fault;
using tvcard::DevicePath;
using tvcard::Role;

std::vector<std::wstring> PinNames(IBaseFilter* filter) {
  std::vector<std::wstring> names;
  ComPtr<IEnumPins> pins;
  EXPECT_EQ(filter->EnumPins(pins.put()), S_OK);
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.put(), nullptr) == S_OK) {
    PIN_INFO info;
    EXPECT_EQ(pin->QueryPinInfo(&info), S_OK);
    info.pFilter->Release();
    names.push_back(info.achName);
  }
  return names;
}

LONG Locked(IBaseFilter* capture) {
  ComPtr<IAMAnalogVideoDecoder> decoder;
  EXPECT_EQ(capture->QueryInterface(IID_IAMAnalogVideoDecoder, decoder.put_void()), S_OK);
  LONG locked = -1;
  EXPECT_EQ(decoder->get_HorizontalLocked(&locked), S_OK);
  return locked;
}

// A card graph streaming its capture pin into a sink.
struct Streaming {
  CardGraph graph;
  ComPtr<FrameSink> sink = FrameSink::Create();

  explicit Streaming(int card) : graph(BindCard(card)) {
    EXPECT_EQ(graph.ConnectCapture(L"Capture", sink.get(), sink->InputPin()), S_OK);
  }
  void Release() {
    graph.Release();
    sink.reset();
  }
};

class TvCardFaults : public TvCardTest {};

TEST_F(TvCardFaults, CreationFailsForEveryDeviceOrJustTheNamedOne) {
  SetFaults(fault::kCreate);
  for (Role role : tvcard::kRoles) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(BindDevice(tvcard::CategoryOf(role), DevicePath(1, role), &filter),
              tvcard::kDeviceFailure);
    EXPECT_FALSE(filter);
    EXPECT_EQ(CoCreateInstance(tvcard::ClassOf(role), nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, filter.put_void()),
              tvcard::kDeviceFailure);
  }
  const std::pair<const wchar_t*, Role> named[] = {{fault::kCreateTuner, Role::kTuner},
                                                   {fault::kCreateTvAudio, Role::kTvAudio},
                                                   {fault::kCreateCrossbar, Role::kCrossbar},
                                                   {fault::kCreateCapture, Role::kCapture}};
  for (const auto& [name, failing] : named) {
    SetFaults(name);
    for (Role role : tvcard::kRoles) {
      ComPtr<IBaseFilter> filter;
      EXPECT_EQ(BindDevice(tvcard::CategoryOf(role), DevicePath(2, role), &filter),
                role == failing ? tvcard::kDeviceFailure : S_OK);
    }
  }
}

TEST_F(TvCardFaults, CaptureDeviceWithoutPreviewPinStreamsFromItsCapturePin) {
  SetFaults(fault::kNoPreview);
  Streaming card(1);
  EXPECT_EQ(PinNames(card.graph.card.capture.get()),
            (std::vector<std::wstring>{L"Analog Video In", L"Capture"}));
  ComPtr<IPin> preview;
  EXPECT_EQ(card.graph.card.capture->FindPin(L"Preview", preview.put()), VFW_E_NOT_FOUND);
  ComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                             IID_ICaptureGraphBuilder2, builder.put_void()),
            S_OK);
  EXPECT_TRUE(
      FAILED(builder->FindPin(card.graph.card.capture.get(), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW,
                              &MEDIATYPE_Video, TRUE, 0, preview.put())));
  builder.reset();
  ASSERT_EQ(card.graph.control->Run(), S_OK);
  EXPECT_TRUE(card.sink->WaitForCount(2, kWaitMs));
  card.Release();

  // The switch is read when the filter is created.
  SetFaults(nullptr);
  CardFilters whole = BindCard(1);
  EXPECT_EQ(PinNames(whole.capture.get()).size(), 3u);
}

TEST_F(TvCardFaults, RefusedSetFormatLeavesTheFormatAsItWas) {
  CardFilters card = BindCard(1);
  ComPtr<IPin> pin;
  ASSERT_EQ(card.capture->FindPin(L"Preview", pin.put()), S_OK);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(pin->QueryInterface(IID_IAMStreamConfig, config.put_void()), S_OK);
  AM_MEDIA_TYPE* before = nullptr;
  ASSERT_EQ(config->GetFormat(&before), S_OK);
  SetFaults(fault::kRefuseSetFormat);
  AM_MEDIA_TYPE* wanted = nullptr;
  VIDEO_STREAM_CONFIG_CAPS caps;
  ASSERT_EQ(config->GetStreamCaps(17, &wanted, reinterpret_cast<BYTE*>(&caps)), S_OK);
  ASSERT_NE(wanted->subtype, before->subtype);
  EXPECT_EQ(config->SetFormat(wanted), VFW_E_INVALIDMEDIATYPE);
  AM_MEDIA_TYPE* after = nullptr;
  ASSERT_EQ(config->GetFormat(&after), S_OK);
  EXPECT_EQ(after->subtype, before->subtype);
  ASSERT_EQ(after->cbFormat, before->cbFormat);
  EXPECT_EQ(std::memcmp(after->pbFormat, before->pbFormat, after->cbFormat), 0);
  SetFaults(nullptr);
  EXPECT_EQ(config->SetFormat(wanted), S_OK);
  DeleteTaskMediaType(before);
  DeleteTaskMediaType(wanted);
  DeleteTaskMediaType(after);
}

TEST_F(TvCardFaults, DevicesRegisteredWithoutDevicePathAreListedButCannotBeBound) {
  SetFaults(fault::kNoDevicePath);
  ASSERT_EQ(Unregister(), S_OK);
  ASSERT_EQ(Register(), S_OK);
  SetFaults(nullptr);
  for (Role role : tvcard::kRoles) {
    HRESULT result = E_FAIL;
    const std::vector<Device> devices = ListDevices(tvcard::CategoryOf(role), &result);
    EXPECT_EQ(result, S_OK);
    ASSERT_EQ(devices.size(), 2u);
    for (const Device& device : devices) {
      EXPECT_EQ(device.name, tvcard::FriendlyNameOf(role));
      EXPECT_FALSE(device.hasPath);
    }
    // A filter that cannot learn its device fails to load from the moniker's property bag.
    ComPtr<ICreateDevEnum> enumerator;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICreateDevEnum, enumerator.put_void()),
              S_OK);
    ComPtr<IEnumMoniker> monikers;
    ASSERT_EQ(enumerator->CreateClassEnumerator(tvcard::CategoryOf(role), monikers.put(), 0), S_OK);
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(monikers->Next(1, moniker.put(), nullptr), S_OK);
    ComPtr<IBaseFilter> filter;
    EXPECT_TRUE(
        FAILED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.put_void())));
    EXPECT_FALSE(filter);
  }
}

TEST_F(TvCardFaults, TunerWithoutTvModeOffersOnlyRadio) {
  SetFaults(fault::kNoTvMode);
  CardFilters card = BindCard(1);
  IBaseFilter* tuner = card.tuner.get();
  KSPROPERTY_TUNER_CAPS_S caps = {};
  ASSERT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_CAPS, &caps, sizeof caps), S_OK);
  EXPECT_EQ(caps.ModesSupported & KSPROPERTY_TUNER_MODE_TV, 0u);
  EXPECT_NE(caps.ModesSupported, 0u);
  KSPROPERTY_TUNER_MODE_CAPS_S modeCaps = {};
  modeCaps.Mode = KSPROPERTY_TUNER_MODE_TV;
  EXPECT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_MODE_CAPS, &modeCaps, sizeof modeCaps),
            E_INVALIDARG);
  KSPROPERTY_TUNER_MODE_S mode = {};
  ASSERT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_MODE, &mode, sizeof mode), S_OK);
  EXPECT_EQ(mode.Mode, ULONG{KSPROPERTY_TUNER_MODE_FM_RADIO});
  mode.Mode = KSPROPERTY_TUNER_MODE_TV;
  EXPECT_EQ(SetTunerRecord(tuner, KSPROPERTY_TUNER_MODE, &mode, sizeof mode), E_INVALIDARG);
  // A TV station's frequency is outside the radio band; a radio frequency shows no picture.
  EXPECT_EQ(Tune(tuner, 175250000), E_INVALIDARG);
  ASSERT_EQ(Tune(tuner, 100000000), S_OK);
  EXPECT_EQ(Locked(card.capture.get()), 0);
}

TEST_F(TvCardFaults, FailingTunerCallsChangeNothing) {
  CardFilters card = BindCard(1);
  IBaseFilter* tuner = card.tuner.get();
  ASSERT_EQ(Tune(tuner, 175250000), S_OK);
  SetFaults(fault::kTunerFails);
  BYTE record[104] = {};
  reinterpret_cast<KSPROPERTY_TUNER_MODE_CAPS_S*>(record)->Mode = KSPROPERTY_TUNER_MODE_TV;
  const std::pair<DWORD, DWORD> properties[] = {{KSPROPERTY_TUNER_CAPS, 104},
                                                {KSPROPERTY_TUNER_MODE_CAPS, 56},
                                                {KSPROPERTY_TUNER_MODE, 32},
                                                {KSPROPERTY_TUNER_FREQUENCY, 56},
                                                {KSPROPERTY_TUNER_INPUT, 32}};
  for (const auto& [id, bytes] : properties) {
    EXPECT_EQ(GetTunerRecord(tuner, id, record, bytes), tvcard::kDeviceFailure) << id;
  }
  EXPECT_EQ(Tune(tuner, 183250000), tvcard::kDeviceFailure);
  KSPROPERTY_TUNER_INPUT_S input = {};
  input.InputIndex = 1;
  EXPECT_EQ(SetTunerRecord(tuner, KSPROPERTY_TUNER_INPUT, &input, sizeof input),
            tvcard::kDeviceFailure);
  ComPtr<IKsPropertySet> set;
  ASSERT_EQ(tuner->QueryInterface(IID_IKsPropertySet, set.put_void()), S_OK);
  DWORD support = 0;
  EXPECT_EQ(set->QuerySupported(kPropSetTuner, KSPROPERTY_TUNER_FREQUENCY, &support), S_OK);
  SetFaults(nullptr);
  KSPROPERTY_TUNER_FREQUENCY_S frequency = {};
  ASSERT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_FREQUENCY, &frequency, sizeof frequency), S_OK);
  EXPECT_EQ(frequency.Frequency, 175250000u);
  ASSERT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_INPUT, &input, sizeof input), S_OK);
  EXPECT_EQ(input.InputIndex, 0u);
  EXPECT_EQ(Locked(card.capture.get()), 1);
}

TEST_F(TvCardFaults, FailingRouteKeepsTheRoute) {
  CardFilters card = BindCard(1);
  ComPtr<IAMCrossbar> crossbar;
  ASSERT_EQ(card.crossbar->QueryInterface(IID_IAMCrossbar, crossbar.put_void()), S_OK);
  SetFaults(fault::kRouteFails);
  EXPECT_EQ(crossbar->CanRoute(0, 1), S_OK);
  EXPECT_EQ(crossbar->Route(0, 1), tvcard::kDeviceFailure);
  LONG input = -2;
  ASSERT_EQ(crossbar->get_IsRoutedTo(0, &input), S_OK);
  EXPECT_EQ(input, 0);
  EXPECT_EQ(Locked(card.capture.get()), 0);  // still the tuner, with nothing tuned
  SetFaults(nullptr);
  ASSERT_EQ(crossbar->Route(0, 1), S_OK);
  EXPECT_EQ(Locked(card.capture.get()), 1);
}

TEST_F(TvCardFaults, BusyCardRunsInOneGraphAtATime) {
  // Without the switch two graphs may share the card.
  Streaming first(1);
  Streaming second(1);
  Streaming other(2);
  ASSERT_EQ(first.graph.control->Run(), S_OK);
  ASSERT_EQ(second.graph.control->Run(), S_OK);
  ASSERT_EQ(second.graph.control->Stop(), S_OK);

  SetFaults(fault::kBusy);
  EXPECT_EQ(second.graph.control->Run(), tvcard::kDeviceBusy);
  EXPECT_EQ(second.graph.control->Pause(), tvcard::kDeviceBusy);
  ASSERT_EQ(second.graph.control->Stop(), S_OK);
  // The first goes on; another card is not busy.
  const LONG before = first.sink->Count();
  EXPECT_TRUE(first.sink->WaitForCount(before + 2, kWaitMs));
  ASSERT_EQ(other.graph.control->Run(), S_OK);
  EXPECT_TRUE(other.sink->WaitForCount(2, kWaitMs));
  // Once the first stops, the second may run.
  ASSERT_EQ(first.graph.control->Stop(), S_OK);
  ASSERT_EQ(second.graph.control->Run(), S_OK);
  const LONG seconds = second.sink->Count();
  EXPECT_TRUE(second.sink->WaitForCount(seconds + 2, kWaitMs));
  first.Release();
  second.Release();
  other.Release();
}

TEST_F(TvCardFaults, LostDeviceStopsDeliveringAndSignalsDeviceLost) {
  SetFaults(fault::kLost);
  Streaming card(1);
  ComPtr<IUnknown> identity;
  ASSERT_EQ(card.graph.card.capture->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
  ASSERT_EQ(card.graph.control->Run(), S_OK);
  long code = 0;
  LONG_PTR param1 = 0;
  LONG_PTR param2 = -1;
  bool lost = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!lost && std::chrono::steady_clock::now() < deadline) {
    if (card.graph.events->GetEvent(&code, &param1, &param2, 50) != S_OK) {
      continue;
    }
    lost = code == EC_DEVICE_LOST;
    if (lost) {
      EXPECT_EQ(param1, reinterpret_cast<LONG_PTR>(identity.get()));
      EXPECT_EQ(param2, 0);
    }
    EXPECT_EQ(card.graph.events->FreeEventParams(code, param1, param2), S_OK);
  }
  ASSERT_TRUE(lost);
  EXPECT_EQ(card.sink->Count(), tvcard::kLostAfterFrames);
  Sleep(150);
  EXPECT_EQ(card.sink->Count(), tvcard::kLostAfterFrames);
  ASSERT_EQ(card.graph.control->Stop(), S_OK);
  // The filter stays lost; the graph must be built again.
  EXPECT_EQ(card.graph.control->Run(), tvcard::kDeviceGone);
  identity.reset();
  card.Release();
}

}  // namespace
}  // namespace kvx::test
