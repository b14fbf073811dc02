// The virtual TV card's devices as a host program finds and configures them: registration and
// enumeration, binding by device path, pins, the tuner's property records, the crossbar's
// routes, the capture pins' formats, the decoder's standards and the property page.
#include <windows.h>
#include <dshow.h>
#include <ks.h>
#include <ksmedia.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/win/support/com_test.h"
#include "tests/win/support/tv_card.h"
#include "tools/tv_card/tv_card.h"

namespace kvx::test {
namespace {

using tvcard::DevicePath;
using tvcard::Role;

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

struct PinShape {
  std::wstring name;
  PIN_DIRECTION direction;
  GUID majorType;
};

std::vector<PinShape> PinsOf(IBaseFilter* filter) {
  std::vector<PinShape> shapes;
  ComPtr<IEnumPins> pins;
  EXPECT_EQ(filter->EnumPins(pins.put()), S_OK);
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.put(), nullptr) == S_OK) {
    PIN_INFO info;
    EXPECT_EQ(pin->QueryPinInfo(&info), S_OK);
    info.pFilter->Release();
    ComPtr<IEnumMediaTypes> types;
    EXPECT_EQ(pin->EnumMediaTypes(types.put()), S_OK);
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(types->Next(1, &type, nullptr), S_OK);
    shapes.push_back({info.achName, info.dir, type != nullptr ? type->majortype : GUID_NULL});
    DeleteTaskMediaType(type);
  }
  return shapes;
}

GUID PinCategory(IBaseFilter* filter, const wchar_t* name) {
  ComPtr<IPin> pin;
  EXPECT_EQ(filter->FindPin(name, pin.put()), S_OK);
  ComPtr<IKsPropertySet> properties;
  EXPECT_EQ(pin->QueryInterface(IID_IKsPropertySet, properties.put_void()), S_OK);
  GUID category = GUID_NULL;
  DWORD returned = 0;
  EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                            sizeof category, &returned),
            S_OK);
  EXPECT_EQ(returned, sizeof(GUID));
  return category;
}

ComPtr<IAMStreamConfig> StreamConfig(IBaseFilter* capture, const wchar_t* name) {
  ComPtr<IPin> pin;
  EXPECT_EQ(capture->FindPin(name, pin.put()), S_OK);
  ComPtr<IAMStreamConfig> config;
  EXPECT_EQ(pin->QueryInterface(IID_IAMStreamConfig, config.put_void()), S_OK);
  return config;
}

const VIDEOINFOHEADER& Header(const AM_MEDIA_TYPE& type) {
  return *reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
}

ULONG Frequency(IBaseFilter* tuner) {
  KSPROPERTY_TUNER_FREQUENCY_S record = {};
  EXPECT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_FREQUENCY, &record, sizeof record), S_OK);
  return record.Frequency;
}

class TvCardDevices : public TvCardTest {};

TEST_F(TvCardDevices, EveryCategoryListsBothCardsWithTheirNamesPathsAndClasses) {
  for (Role role : tvcard::kRoles) {
    HRESULT result = E_FAIL;
    const std::vector<Device> devices = ListDevices(tvcard::CategoryOf(role), &result);
    EXPECT_EQ(result, S_OK);
    ASSERT_EQ(devices.size(), 2u);
    std::set<std::wstring> paths;
    for (const Device& device : devices) {
      EXPECT_EQ(device.name, tvcard::FriendlyNameOf(role));
      EXPECT_EQ(device.clsid, GuidText(tvcard::ClassOf(role)));
      EXPECT_TRUE(device.hasPath);
      paths.insert(device.path);
    }
    EXPECT_EQ(paths, (std::set<std::wstring>{DevicePath(1, role), DevicePath(2, role)}));
  }
  // Unregistered, the categories are empty again.
  ASSERT_EQ(Unregister(), S_OK);
  for (Role role : tvcard::kRoles) {
    HRESULT result = E_FAIL;
    EXPECT_TRUE(ListDevices(tvcard::CategoryOf(role), &result).empty());
    EXPECT_EQ(result, S_FALSE);
  }
}

TEST_F(TvCardDevices, DevicePathsAreKernelStreamingShapedAndDiffer) {
  std::set<std::wstring> paths;
  for (int card = 1; card <= tvcard::kCardCount; ++card) {
    for (Role role : tvcard::kRoles) {
      const std::wstring path = DevicePath(card, role);
      std::wstring category = GuidText(tvcard::CategoryOf(role));
      for (wchar_t& c : category) {
        c = towlower(c);
      }
      EXPECT_EQ(path, L"\\\\?\\root#kvx_tvcard#000" + std::to_wstring(card) + L"#" + category +
                          L"\\" + tvcard::KeyOf(role));
      paths.insert(path);
    }
  }
  EXPECT_EQ(paths.size(), static_cast<size_t>(tvcard::kCardCount) * std::size(tvcard::kRoles));
}

TEST_F(TvCardDevices, LiveObjectCountFollowsTheFilters) {
  ASSERT_EQ(CardObjects(), 0);
  {
    CardFilters card = BindCard(2);
    ASSERT_TRUE(card.capture);
    // Four filters, their pins and the card's shared state at least.
    EXPECT_GT(CardObjects(), 4);
  }
  EXPECT_EQ(CardObjects(), 0);
}

TEST_F(TvCardDevices, EachFilterHasTheCardsPins) {
  const struct {
    Role role;
    std::vector<PinShape> pins;
  } cases[] = {
      {Role::kTuner,
       {{L"Analog Video", PINDIR_OUTPUT, MEDIATYPE_AnalogVideo},
        {L"Analog Audio", PINDIR_OUTPUT, MEDIATYPE_AnalogAudio}}},
      {Role::kTvAudio,
       {{L"TVAudio In", PINDIR_INPUT, MEDIATYPE_AnalogAudio},
        {L"TVAudio Out", PINDIR_OUTPUT, MEDIATYPE_AnalogAudio}}},
      {Role::kCrossbar,
       {{L"0: Video Tuner In", PINDIR_INPUT, MEDIATYPE_AnalogVideo},
        {L"1: Video Composite In", PINDIR_INPUT, MEDIATYPE_AnalogVideo},
        {L"2: Video SVideo In", PINDIR_INPUT, MEDIATYPE_AnalogVideo},
        {L"3: Audio Tuner In", PINDIR_INPUT, MEDIATYPE_AnalogAudio},
        {L"4: Audio Line In", PINDIR_INPUT, MEDIATYPE_AnalogAudio},
        {L"0: Video Decoder Out", PINDIR_OUTPUT, MEDIATYPE_AnalogVideo},
        {L"1: Audio Decoder Out", PINDIR_OUTPUT, MEDIATYPE_AnalogAudio}}},
      {Role::kCapture,
       {{L"Analog Video In", PINDIR_INPUT, MEDIATYPE_AnalogVideo},
        {L"Capture", PINDIR_OUTPUT, MEDIATYPE_Video},
        {L"Preview", PINDIR_OUTPUT, MEDIATYPE_Video}}},
  };
  CardFilters card = BindCard(1);
  IBaseFilter* const filters[] = {card.tuner.get(), card.tvAudio.get(), card.crossbar.get(),
                                  card.capture.get()};
  for (const auto& c : cases) {
    IBaseFilter* filter = filters[static_cast<int>(c.role)];
    SCOPED_TRACE(static_cast<int>(c.role));
    CLSID clsid;
    ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, tvcard::ClassOf(c.role));
    const std::vector<PinShape> pins = PinsOf(filter);
    ASSERT_EQ(pins.size(), c.pins.size());
    for (size_t i = 0; i < pins.size(); ++i) {
      EXPECT_EQ(pins[i].name, c.pins[i].name);
      EXPECT_EQ(pins[i].direction, c.pins[i].direction) << i;
      EXPECT_EQ(pins[i].majorType, c.pins[i].majorType) << i;
    }
  }
  EXPECT_EQ(PinCategory(card.capture.get(), L"Capture"), PIN_CATEGORY_CAPTURE);
  EXPECT_EQ(PinCategory(card.capture.get(), L"Preview"), PIN_CATEGORY_PREVIEW);
}

TEST_F(TvCardDevices, BindingByPathGivesThatCardsDevices) {
  CardFilters one = BindCard(1);
  CardFilters two = BindCard(2);
  ASSERT_TRUE(one.tuner && two.tuner);
  EXPECT_EQ(Frequency(one.tuner.get()), 0u);
  ASSERT_EQ(Tune(two.tuner.get(), 183250000), S_OK);
  EXPECT_EQ(Frequency(two.tuner.get()), 183250000u);
  EXPECT_EQ(Frequency(one.tuner.get()), 0u);

  // Card 2's crossbar routes card 2 alone; the decoder of card 2 sees its own tuner's station.
  ASSERT_EQ(RouteVideo(one.crossbar.get(), 1), S_OK);
  LONG locked = -1;
  ComPtr<IAMAnalogVideoDecoder> decoderTwo;
  ASSERT_EQ(two.capture->QueryInterface(IID_IAMAnalogVideoDecoder, decoderTwo.put_void()), S_OK);
  ASSERT_EQ(decoderTwo->get_HorizontalLocked(&locked), S_OK);
  EXPECT_EQ(locked, 1);
  ComPtr<IAMCrossbar> crossbarTwo;
  ASSERT_EQ(two.crossbar->QueryInterface(IID_IAMCrossbar, crossbarTwo.put_void()), S_OK);
  LONG input = -2;
  ASSERT_EQ(crossbarTwo->get_IsRoutedTo(0, &input), S_OK);
  EXPECT_EQ(input, 0);

  // A filter created without a moniker belongs to card 1.
  ComPtr<IBaseFilter> loose;
  ASSERT_EQ(CoCreateInstance(tvcard::kClsidTuner, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             loose.put_void()),
            S_OK);
  ASSERT_EQ(Tune(loose.get(), 49750000), S_OK);
  EXPECT_EQ(Frequency(one.tuner.get()), 49750000u);
  EXPECT_EQ(Frequency(two.tuner.get()), 183250000u);
}

TEST_F(TvCardDevices, TunerAnswersTheTunerPropertySetWithItsRecords) {
  CardFilters card = BindCard(1);
  IBaseFilter* tuner = card.tuner.get();

  KSPROPERTY_TUNER_CAPS_S caps = {};
  ASSERT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_CAPS, &caps, sizeof caps), S_OK);
  EXPECT_EQ(caps.ModesSupported & KSPROPERTY_TUNER_MODE_TV, ULONG{KSPROPERTY_TUNER_MODE_TV});

  KSPROPERTY_TUNER_MODE_CAPS_S modeCaps = {};
  modeCaps.Mode = KSPROPERTY_TUNER_MODE_TV;
  ASSERT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_MODE_CAPS, &modeCaps, sizeof modeCaps), S_OK);
  EXPECT_EQ(modeCaps.Mode, ULONG{KSPROPERTY_TUNER_MODE_TV});
  EXPECT_LT(modeCaps.MinFrequency, 48250000u);
  EXPECT_GT(modeCaps.MaxFrequency, 855250000u);
  EXPECT_EQ(modeCaps.Strategy, ULONG{KS_TUNER_STRATEGY_PLL});
  EXPECT_GT(modeCaps.NumberOfInputs, 1u);
  EXPECT_NE(modeCaps.StandardsSupported, 0u);

  KSPROPERTY_TUNER_MODE_S mode = {};
  ASSERT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_MODE, &mode, sizeof mode), S_OK);
  EXPECT_EQ(mode.Mode, ULONG{KSPROPERTY_TUNER_MODE_TV});

  // The tuner remembers what it was tuned to, and the frequency before.
  ASSERT_EQ(Tune(tuner, 175250000), S_OK);
  ASSERT_EQ(Tune(tuner, 471250000), S_OK);
  KSPROPERTY_TUNER_FREQUENCY_S frequency = {};
  ASSERT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_FREQUENCY, &frequency, sizeof frequency), S_OK);
  EXPECT_EQ(frequency.Frequency, 471250000u);
  EXPECT_EQ(frequency.LastFrequency, 175250000u);
  EXPECT_EQ(frequency.TuningFlags, ULONG{KS_TUNER_TUNING_EXACT});
  // Outside the range nothing changes.
  EXPECT_EQ(Tune(tuner, modeCaps.MaxFrequency + 1), E_INVALIDARG);
  EXPECT_EQ(Tune(tuner, modeCaps.MinFrequency - 1), E_INVALIDARG);
  EXPECT_EQ(Frequency(tuner), 471250000u);

  KSPROPERTY_TUNER_INPUT_S input = {};
  ASSERT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_INPUT, &input, sizeof input), S_OK);
  EXPECT_EQ(input.InputIndex, 0u);
  input.InputIndex = 1;
  ASSERT_EQ(SetTunerRecord(tuner, KSPROPERTY_TUNER_INPUT, &input, sizeof input), S_OK);
  input.InputIndex = 7;
  ASSERT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_INPUT, &input, sizeof input), S_OK);
  EXPECT_EQ(input.InputIndex, 1u);
  input.InputIndex = modeCaps.NumberOfInputs;
  EXPECT_EQ(SetTunerRecord(tuner, KSPROPERTY_TUNER_INPUT, &input, sizeof input), E_INVALIDARG);

  // Read-only properties cannot be written; others are not there.
  EXPECT_EQ(SetTunerRecord(tuner, KSPROPERTY_TUNER_CAPS, &caps, sizeof caps),
            E_PROP_ID_UNSUPPORTED);
  KSPROPERTY_TUNER_STANDARD_S standard = {};
  EXPECT_EQ(GetTunerRecord(tuner, KSPROPERTY_TUNER_STANDARD, &standard, sizeof standard),
            E_PROP_ID_UNSUPPORTED);
  ComPtr<IKsPropertySet> properties;
  ASSERT_EQ(tuner->QueryInterface(IID_IKsPropertySet, properties.put_void()), S_OK);
  DWORD support = 0;
  ASSERT_EQ(properties->QuerySupported(kPropSetTuner, KSPROPERTY_TUNER_FREQUENCY, &support), S_OK);
  EXPECT_EQ(support, DWORD{KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET});
  ASSERT_EQ(properties->QuerySupported(kPropSetTuner, KSPROPERTY_TUNER_CAPS, &support), S_OK);
  EXPECT_EQ(support, DWORD{KSPROPERTY_SUPPORT_GET});
  EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, 0, &support), E_PROP_SET_UNSUPPORTED);
}

TEST_F(TvCardDevices, TunerRefusesRecordsShorterThanPublished) {
  CardFilters card = BindCard(1);
  ComPtr<IKsPropertySet> properties;
  ASSERT_EQ(card.tuner->QueryInterface(IID_IKsPropertySet, properties.put_void()), S_OK);
  const struct {
    DWORD id;
    DWORD record;
    DWORD instance;
  } sizes[] = {
      {KSPROPERTY_TUNER_CAPS, 104, 80}, {KSPROPERTY_TUNER_MODE_CAPS, 56, 32},
      {KSPROPERTY_TUNER_MODE, 32, 8},   {KSPROPERTY_TUNER_FREQUENCY, 56, 32},
      {KSPROPERTY_TUNER_INPUT, 32, 8},
  };
  for (const auto& s : sizes) {
    SCOPED_TRACE(s.id);
    BYTE record[128] = {};
    reinterpret_cast<KSPROPERTY_TUNER_MODE_CAPS_S*>(record)->Mode = KSPROPERTY_TUNER_MODE_TV;
    DWORD returned = 0;
    EXPECT_EQ(
        properties->Get(kPropSetTuner, s.id, record + 24, s.instance, record, s.record, &returned),
        S_OK);
    EXPECT_EQ(returned, s.record);
    EXPECT_EQ(properties->Get(kPropSetTuner, s.id, record + 24, s.instance, record, s.record - 1,
                              &returned),
              HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(properties->Get(kPropSetTuner, s.id, record + 24, s.instance - 1, record, s.record,
                              &returned),
              HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  }
}

TEST_F(TvCardDevices, CrossbarRoutesVideoToVideoAndAudioToAudio) {
  CardFilters card = BindCard(1);
  ComPtr<IAMCrossbar> crossbar;
  ASSERT_EQ(card.crossbar->QueryInterface(IID_IAMCrossbar, crossbar.put_void()), S_OK);
  LONG outputs = 0;
  LONG inputs = 0;
  ASSERT_EQ(crossbar->get_PinCounts(&outputs, &inputs), S_OK);
  ASSERT_EQ(outputs, 2);
  ASSERT_EQ(inputs, 5);
  const LONG inputTypes[] = {PhysConn_Video_Tuner, PhysConn_Video_Composite, PhysConn_Video_SVideo,
                             PhysConn_Audio_Tuner, PhysConn_Audio_Line};
  const LONG inputRelated[] = {3, 4, 4, 0, 1};
  for (LONG i = 0; i < inputs; ++i) {
    LONG related = -1;
    LONG type = -1;
    ASSERT_EQ(crossbar->get_CrossbarPinInfo(TRUE, i, &related, &type), S_OK);
    EXPECT_EQ(type, inputTypes[i]) << i;
    EXPECT_EQ(related, inputRelated[i]) << i;
  }
  LONG related = -1;
  LONG type = -1;
  ASSERT_EQ(crossbar->get_CrossbarPinInfo(FALSE, 0, &related, &type), S_OK);
  EXPECT_EQ(type, PhysConn_Video_VideoDecoder);
  EXPECT_EQ(related, 1);
  ASSERT_EQ(crossbar->get_CrossbarPinInfo(FALSE, 1, &related, &type), S_OK);
  EXPECT_EQ(type, PhysConn_Audio_AudioDecoder);
  EXPECT_EQ(related, 0);
  EXPECT_EQ(crossbar->get_CrossbarPinInfo(FALSE, 2, &related, &type), E_INVALIDARG);
  EXPECT_EQ(crossbar->get_CrossbarPinInfo(TRUE, -1, &related, &type), E_INVALIDARG);

  // Power-on routes: the tuner's video and audio.
  LONG routed = -2;
  ASSERT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
  EXPECT_EQ(routed, 0);
  ASSERT_EQ(crossbar->get_IsRoutedTo(1, &routed), S_OK);
  EXPECT_EQ(routed, 3);

  for (LONG in = 0; in < inputs; ++in) {
    const bool videoIn = in < 3;
    EXPECT_EQ(crossbar->CanRoute(0, in), videoIn ? S_OK : S_FALSE) << in;
    EXPECT_EQ(crossbar->CanRoute(1, in), videoIn ? S_FALSE : S_OK) << in;
  }
  EXPECT_EQ(crossbar->Route(0, 3), VFW_E_CANNOT_CONNECT);
  EXPECT_EQ(crossbar->Route(0, 5), E_INVALIDARG);
  EXPECT_EQ(crossbar->Route(2, 0), E_INVALIDARG);
  ASSERT_EQ(crossbar->Route(0, 2), S_OK);
  ASSERT_EQ(crossbar->Route(1, 4), S_OK);
  ASSERT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
  EXPECT_EQ(routed, 2);
  ASSERT_EQ(crossbar->get_IsRoutedTo(1, &routed), S_OK);
  EXPECT_EQ(routed, 4);
  ASSERT_EQ(crossbar->Route(0, -1), S_OK);
  ASSERT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
  EXPECT_EQ(routed, -1);
}

TEST_F(TvCardDevices, CapturePinsOfferThreeFormatsAtSixSizes) {
  CardFilters card = BindCard(1);
  for (const wchar_t* name : {L"Capture", L"Preview"}) {
    ComPtr<IAMStreamConfig> config = StreamConfig(card.capture.get(), name);
    ASSERT_TRUE(config);
    int count = 0;
    int size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 18);
    ASSERT_EQ(size, 128);
    std::set<std::tuple<std::wstring, LONG, LONG>> offered;
    for (int i = 0; i < count; ++i) {
      AM_MEDIA_TYPE* type = nullptr;
      VIDEO_STREAM_CONFIG_CAPS caps;
      ASSERT_EQ(config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps)), S_OK);
      EXPECT_EQ(type->majortype, MEDIATYPE_Video);
      ASSERT_EQ(type->formattype, FORMAT_VideoInfo);
      ASSERT_GE(type->cbFormat, sizeof(VIDEOINFOHEADER));
      const BITMAPINFOHEADER& header = Header(*type).bmiHeader;
      EXPECT_EQ(caps.guid, FORMAT_VideoInfo);
      EXPECT_EQ(caps.MaxOutputSize.cx, header.biWidth);
      EXPECT_EQ(caps.MaxOutputSize.cy, header.biHeight);
      const LONG bits = type->subtype == MEDIASUBTYPE_RGB24 ? 24 : 16;
      EXPECT_EQ(header.biBitCount, bits);
      EXPECT_EQ(header.biSizeImage,
                static_cast<DWORD>(header.biWidth * header.biHeight * bits / 8));
      EXPECT_EQ(type->lSampleSize, header.biSizeImage);
      offered.insert({GuidText(type->subtype), header.biWidth, header.biHeight});
      DeleteTaskMediaType(type);
    }
    std::set<std::tuple<std::wstring, LONG, LONG>> expected;
    for (const GUID& subtype : {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_UYVY, MEDIASUBTYPE_RGB24}) {
      for (const SIZE& s : {SIZE{160, 120}, SIZE{192, 144}, SIZE{320, 240}, SIZE{352, 240},
                            SIZE{352, 288}, SIZE{384, 288}}) {
        expected.insert({GuidText(subtype), s.cx, s.cy});
      }
    }
    EXPECT_EQ(offered, expected);
    AM_MEDIA_TYPE* type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    EXPECT_EQ(config->GetStreamCaps(count, &type, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
    EXPECT_EQ(type, nullptr);
  }
}

TEST_F(TvCardDevices, SetFormatTakesSubtypeAndSizeAndDescribesTheRest) {
  CardFilters card = BindCard(1);
  ComPtr<IAMStreamConfig> config = StreamConfig(card.capture.get(), L"Preview");
  ASSERT_TRUE(config);
  AM_MEDIA_TYPE* type = nullptr;
  ASSERT_EQ(config->GetFormat(&type), S_OK);
  EXPECT_EQ(type->subtype, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(Header(*type).bmiHeader.biBitCount, 16);
  // RGB24 in a block that still says 16 bits: the subtype decides.
  type->subtype = MEDIASUBTYPE_RGB24;
  reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth = 384;
  reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biHeight = 288;
  ASSERT_EQ(config->SetFormat(type), S_OK);
  DeleteTaskMediaType(type);
  ASSERT_EQ(config->GetFormat(&type), S_OK);
  EXPECT_EQ(type->subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(Header(*type).bmiHeader.biWidth, 384);
  EXPECT_EQ(Header(*type).bmiHeader.biHeight, 288);
  EXPECT_EQ(Header(*type).bmiHeader.biBitCount, 24);
  EXPECT_EQ(Header(*type).bmiHeader.biSizeImage, 384u * 288 * 3);
  EXPECT_EQ(Header(*type).AvgTimePerFrame, 400000);  // PAL B at power-on

  // Sizes and subtypes the card does not make are refused, and the format stays.
  reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth = 640;
  EXPECT_EQ(config->SetFormat(type), VFW_E_INVALIDMEDIATYPE);
  reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth = 384;
  type->subtype = MEDIASUBTYPE_RGB32;
  EXPECT_EQ(config->SetFormat(type), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(config->SetFormat(nullptr), E_POINTER);
  DeleteTaskMediaType(type);
  ASSERT_EQ(config->GetFormat(&type), S_OK);
  EXPECT_EQ(type->subtype, MEDIASUBTYPE_RGB24);
  DeleteTaskMediaType(type);

  // The other pin keeps its own format, and the set format is all the pin now proposes.
  ComPtr<IAMStreamConfig> other = StreamConfig(card.capture.get(), L"Capture");
  ASSERT_EQ(other->GetFormat(&type), S_OK);
  EXPECT_EQ(type->subtype, MEDIASUBTYPE_YUY2);
  DeleteTaskMediaType(type);
  ComPtr<IPin> preview;
  ASSERT_EQ(card.capture->FindPin(L"Preview", preview.put()), S_OK);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(preview->EnumMediaTypes(types.put()), S_OK);
  AM_MEDIA_TYPE* proposed[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(types->Next(2, proposed, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(proposed[0]->subtype, MEDIASUBTYPE_RGB24);
  DeleteTaskMediaType(proposed[0]);
}

TEST_F(TvCardDevices, DecoderOffersStandardsAndKeepsTheChosenOne) {
  CardFilters card = BindCard(1);
  ComPtr<IAMAnalogVideoDecoder> decoder;
  ASSERT_EQ(card.capture->QueryInterface(IID_IAMAnalogVideoDecoder, decoder.put_void()), S_OK);
  LONG available = 0;
  ASSERT_EQ(decoder->get_AvailableTVFormats(&available), S_OK);
  for (LONG standard :
       {AnalogVideo_NTSC_M, AnalogVideo_NTSC_M_J, AnalogVideo_PAL_B, AnalogVideo_SECAM_D}) {
    EXPECT_NE(available & standard, 0) << standard;
  }
  EXPECT_EQ(available & AnalogVideo_PAL_60, 0);
  LONG standard = 0;
  LONG lines = 0;
  ASSERT_EQ(decoder->get_TVFormat(&standard), S_OK);
  EXPECT_EQ(standard, AnalogVideo_PAL_B);
  ASSERT_EQ(decoder->get_NumberOfLines(&lines), S_OK);
  EXPECT_EQ(lines, 625);
  ASSERT_EQ(decoder->put_TVFormat(AnalogVideo_NTSC_M), S_OK);
  ASSERT_EQ(decoder->get_TVFormat(&standard), S_OK);
  EXPECT_EQ(standard, AnalogVideo_NTSC_M);
  ASSERT_EQ(decoder->get_NumberOfLines(&lines), S_OK);
  EXPECT_EQ(lines, 525);
  EXPECT_EQ(decoder->put_TVFormat(AnalogVideo_PAL_60), E_INVALIDARG);
  EXPECT_EQ(decoder->put_TVFormat(AnalogVideo_PAL_B | AnalogVideo_PAL_D), E_INVALIDARG);
  ASSERT_EQ(decoder->get_TVFormat(&standard), S_OK);
  EXPECT_EQ(standard, AnalogVideo_NTSC_M);

  // No station at power-on: no signal; composite brings one.
  LONG locked = -1;
  ASSERT_EQ(decoder->get_HorizontalLocked(&locked), S_OK);
  EXPECT_EQ(locked, 0);
  ASSERT_EQ(RouteVideo(card.crossbar.get(), 1), S_OK);
  ASSERT_EQ(decoder->get_HorizontalLocked(&locked), S_OK);
  EXPECT_EQ(locked, 1);
}

TEST_F(TvCardDevices, CaptureDeviceHasOnePropertyPageShowingTheDecoder) {
  CardFilters card = BindCard(1);
  ComPtr<ISpecifyPropertyPages> specify;
  ASSERT_EQ(card.capture->QueryInterface(IID_ISpecifyPropertyPages, specify.put_void()), S_OK);
  CAUUID pages = {};
  ASSERT_EQ(specify->GetPages(&pages), S_OK);
  ASSERT_EQ(pages.cElems, 1u);
  const CLSID pageClass = pages.pElems[0];
  CoTaskMemFree(pages.pElems);
  EXPECT_EQ(pageClass, tvcard::kClsidDecoderPage);

  ComPtr<IPropertyPage> page;
  ASSERT_EQ(CoCreateInstance(pageClass, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                             page.put_void()),
            S_OK);
  PROPPAGEINFO info = {};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_STREQ(info.pszTitle, L"Video Decoder");
  EXPECT_GT(info.size.cx, 0);
  CoTaskMemFree(info.pszTitle);

  IUnknown* object = card.capture.get();
  ASSERT_EQ(page->SetObjects(1, &object), S_OK);
  HWND parent = CreateWindowExW(0, L"STATIC", L"frame", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(parent, nullptr);
  const RECT rect = {0, 0, 260, 90};
  ASSERT_EQ(page->Activate(parent, &rect, TRUE), S_OK);
  ASSERT_EQ(page->Show(SW_SHOW), S_OK);
  HWND text = GetWindow(parent, GW_CHILD);
  ASSERT_NE(text, nullptr);
  wchar_t shown[128] = {};
  GetWindowTextW(text, shown, 128);
  EXPECT_NE(std::wstring(shown).find(L"PAL B"), std::wstring::npos)
      << std::string(shown, shown + 20);
  EXPECT_NE(std::wstring(shown).find(L"625"), std::wstring::npos);
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  ASSERT_EQ(page->Deactivate(), S_OK);
  EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
  ASSERT_EQ(page->SetObjects(0, nullptr), S_OK);
  DestroyWindow(parent);
  ReleaseLast(page);
}

TEST_F(TvCardDevices, CaptureGraphBuilderFindsAndConnectsTheCardsPins) {
  CardFilters card = BindCard(1);
  ComPtr<IGraphBuilder> graph = NewGraph();
  ComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                             IID_ICaptureGraphBuilder2, builder.put_void()),
            S_OK);
  ASSERT_EQ(builder->SetFiltergraph(graph.get()), S_OK);
  ASSERT_EQ(graph->AddFilter(card.tuner.get(), L"TV Tuner"), S_OK);
  ASSERT_EQ(graph->AddFilter(card.crossbar.get(), L"Crossbar"), S_OK);
  ASSERT_EQ(graph->AddFilter(card.capture.get(), L"Capture Device"), S_OK);
  EXPECT_EQ(builder->RenderStream(nullptr, nullptr, card.tuner.get(), nullptr, card.crossbar.get()),
            S_OK);
  EXPECT_EQ(
      builder->RenderStream(nullptr, nullptr, card.crossbar.get(), nullptr, card.capture.get()),
      S_OK);
  const std::pair<const wchar_t*, const wchar_t*> wired[] = {
      {L"Analog Video", L"0: Video Tuner In"}, {L"0: Video Decoder Out", L"Analog Video In"}};
  IBaseFilter* from[] = {card.tuner.get(), card.crossbar.get()};
  for (int i = 0; i < 2; ++i) {
    ComPtr<IPin> out;
    ASSERT_EQ(from[i]->FindPin(wired[i].first, out.put()), S_OK);
    ComPtr<IPin> peer;
    ASSERT_EQ(out->ConnectedTo(peer.put()), S_OK);
    PIN_INFO info;
    ASSERT_EQ(peer->QueryPinInfo(&info), S_OK);
    info.pFilter->Release();
    EXPECT_STREQ(info.achName, wired[i].second);
  }
  ComPtr<IAMStreamConfig> config;
  EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, card.capture.get(),
                                   IID_IAMStreamConfig, config.put_void()),
            S_OK);
  ComPtr<IPin> preview;
  ASSERT_EQ(builder->FindPin(card.capture.get(), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW,
                             &MEDIATYPE_Video, TRUE, 0, preview.put()),
            S_OK);
  PIN_INFO info;
  ASSERT_EQ(preview->QueryPinInfo(&info), S_OK);
  info.pFilter->Release();
  EXPECT_STREQ(info.achName, L"Preview");
  ComPtr<IKsPropertySet> properties;
  EXPECT_EQ(builder->FindInterface(nullptr, nullptr, card.tuner.get(), IID_IKsPropertySet,
                                   properties.put_void()),
            S_OK);
  preview.reset();
  config.reset();
  properties.reset();
  builder.reset();
  card = CardFilters();
  ReleaseLast(graph);
}

}  // namespace
}  // namespace kvx::test
