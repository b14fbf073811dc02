#include "tests/win/support/tv_card.h"

#include <ks.h>
#include <ksmedia.h>

#include <utility>

namespace kvx::test {
namespace {

constexpr DWORD kHeaderBytes = sizeof(KSPROPERTY);

// Reads a text property; false when it is missing.
bool ReadText(IPropertyBag* bag, const wchar_t* name, std::wstring* text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  if (FAILED(bag->Read(name, &value, nullptr))) {
    return false;
  }
  const bool isText = value.vt == VT_BSTR && value.bstrVal != nullptr;
  if (isText) {
    *text = value.bstrVal;
  }
  EXPECT_EQ(VariantClear(&value), S_OK);
  return isText;
}

ComPtr<IEnumMoniker> Monikers(const GUID& category, HRESULT* result) {
  ComPtr<ICreateDevEnum> devices;
  EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                             IID_ICreateDevEnum, devices.put_void()),
            S_OK);
  ComPtr<IEnumMoniker> monikers;
  *result = devices ? devices->CreateClassEnumerator(category, monikers.put(), 0) : E_FAIL;
  return monikers;
}

ComPtr<IPin> PinOf(IBaseFilter* filter, const wchar_t* name) {
  ComPtr<IPin> pin;
  EXPECT_EQ(filter->FindPin(name, pin.put()), S_OK)
      << "pin " << std::string(name, name + wcslen(name));
  return pin;
}

}  // namespace

void TvCardTest::SetUp() {
  ComTest::SetUp();
  SetFaults(nullptr);
  module_ = LoadLibraryW(tvcard::kDllName);
  ASSERT_NE(module_, nullptr) << "KvxTvCard.dll beside the test program";
  liveObjects_ = reinterpret_cast<tvcard::LiveObjectsFunction>(
      reinterpret_cast<void*>(GetProcAddress(module_, tvcard::kLiveObjectsExport)));
  lastSetFormat_ = reinterpret_cast<tvcard::LastSetFormatFunction>(
      reinterpret_cast<void*>(GetProcAddress(module_, tvcard::kLastSetFormatExport)));
  register_ = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
  unregister_ = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
  ASSERT_NE(liveObjects_, nullptr);
  ASSERT_NE(lastSetFormat_, nullptr);
  ASSERT_NE(register_, nullptr);
  ASSERT_NE(unregister_, nullptr);
  ASSERT_EQ(CardObjects(), 0) << "an earlier test leaked card objects";
  // A crashed run may have left its entries behind.
  ASSERT_EQ(Unregister(), S_OK);
  ASSERT_EQ(Register(), S_OK);
}

void TvCardTest::TearDown() {
  if (module_ != nullptr) {
    EXPECT_EQ(CardObjects(), 0) << "card objects outlived the test";
    EXPECT_EQ(Unregister(), S_OK);
    FreeLibrary(module_);
  }
  SetFaults(nullptr);
  ComTest::TearDown();
}

LONG TvCardTest::CardObjects() const {
  return liveObjects_();
}

MediaTypeValue TvCardTest::LastSetFormat() const {
  AM_MEDIA_TYPE type = {};
  MediaTypeValue value;
  if (lastSetFormat_(&type) == S_OK) {
    value.Assign(type);
    FreeMediaTypeFields(&type);
  }
  return value;
}

HRESULT TvCardTest::Register() const {
  return register_();
}

HRESULT TvCardTest::Unregister() const {
  return unregister_();
}

void SetFaults(const wchar_t* faults) {
  SetEnvironmentVariableW(tvcard::kFaultVariable, faults);
}

std::vector<Device> ListDevices(const GUID& category, HRESULT* result) {
  std::vector<Device> devices;
  ComPtr<IEnumMoniker> monikers = Monikers(category, result);
  if (*result != S_OK) {
    EXPECT_FALSE(monikers);
    return devices;
  }
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.put(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    EXPECT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void()), S_OK);
    if (!bag) {
      continue;
    }
    Device device;
    EXPECT_TRUE(ReadText(bag.get(), L"FriendlyName", &device.name));
    EXPECT_TRUE(ReadText(bag.get(), L"CLSID", &device.clsid));
    device.hasPath = ReadText(bag.get(), L"DevicePath", &device.path);
    devices.push_back(device);
  }
  return devices;
}

HRESULT BindDevice(const GUID& category, const std::wstring& path, ComPtr<IBaseFilter>* filter) {
  HRESULT result = E_FAIL;
  ComPtr<IEnumMoniker> monikers = Monikers(category, &result);
  if (result != S_OK) {
    return VFW_E_NOT_FOUND;
  }
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.put(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    std::wstring candidate;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void())) &&
        ReadText(bag.get(), L"DevicePath", &candidate) && candidate == path) {
      return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter->put_void());
    }
  }
  return VFW_E_NOT_FOUND;
}

CardFilters BindCard(int number) {
  CardFilters card;
  EXPECT_EQ(BindDevice(AM_KSCATEGORY_TVTUNER, tvcard::DevicePath(number, tvcard::Role::kTuner),
                       &card.tuner),
            S_OK);
  EXPECT_EQ(BindDevice(AM_KSCATEGORY_TVAUDIO, tvcard::DevicePath(number, tvcard::Role::kTvAudio),
                       &card.tvAudio),
            S_OK);
  EXPECT_EQ(BindDevice(AM_KSCATEGORY_CROSSBAR, tvcard::DevicePath(number, tvcard::Role::kCrossbar),
                       &card.crossbar),
            S_OK);
  EXPECT_EQ(BindDevice(CLSID_VideoInputDeviceCategory,
                       tvcard::DevicePath(number, tvcard::Role::kCapture), &card.capture),
            S_OK);
  return card;
}

HRESULT GetTunerRecord(IBaseFilter* tuner, DWORD id, void* record, DWORD bytes) {
  ComPtr<IKsPropertySet> properties;
  const HRESULT hr = tuner->QueryInterface(IID_IKsPropertySet, properties.put_void());
  if (FAILED(hr)) {
    return hr;
  }
  DWORD returned = 0;
  auto* data = static_cast<BYTE*>(record);
  const HRESULT got = properties->Get(kPropSetTuner, id, data + kHeaderBytes, bytes - kHeaderBytes,
                                      data, bytes, &returned);
  if (got == S_OK) {
    EXPECT_EQ(returned, bytes);
  }
  return got;
}

HRESULT SetTunerRecord(IBaseFilter* tuner, DWORD id, void* record, DWORD bytes) {
  ComPtr<IKsPropertySet> properties;
  const HRESULT hr = tuner->QueryInterface(IID_IKsPropertySet, properties.put_void());
  if (FAILED(hr)) {
    return hr;
  }
  auto* data = static_cast<BYTE*>(record);
  return properties->Set(kPropSetTuner, id, data + kHeaderBytes, bytes - kHeaderBytes, data, bytes);
}

HRESULT Tune(IBaseFilter* tuner, ULONG hz) {
  KSPROPERTY_TUNER_FREQUENCY_S record = {};
  record.Frequency = hz;
  record.TuningFlags = KS_TUNER_TUNING_EXACT;
  return SetTunerRecord(tuner, KSPROPERTY_TUNER_FREQUENCY, &record, sizeof record);
}

HRESULT RouteVideo(IBaseFilter* crossbar, LONG input) {
  ComPtr<IAMCrossbar> routes;
  const HRESULT hr = crossbar->QueryInterface(IID_IAMCrossbar, routes.put_void());
  return FAILED(hr) ? hr : routes->Route(0, input);
}

HRESULT SetCaptureFormat(IBaseFilter* capture, const wchar_t* pin, const GUID& subtype, LONG width,
                         LONG height) {
  ComPtr<IAMStreamConfig> config;
  const HRESULT hr = PinOf(capture, pin)->QueryInterface(IID_IAMStreamConfig, config.put_void());
  if (FAILED(hr)) {
    return hr;
  }
  AM_MEDIA_TYPE* type = nullptr;
  const HRESULT got = config->GetFormat(&type);
  if (FAILED(got)) {
    return got;
  }
  type->subtype = subtype;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  const HRESULT set = config->SetFormat(type);
  DeleteTaskMediaType(type);
  return set;
}

CardGraph::CardGraph(CardFilters filters) : graph(NewGraph()), card(std::move(filters)) {
  control = Query<IMediaControl>(graph, IID_IMediaControl);
  events = Query<IMediaEvent>(graph, IID_IMediaEvent);
  EXPECT_EQ(graph->AddFilter(card.tuner.get(), L"TV Tuner"), S_OK);
  EXPECT_EQ(graph->AddFilter(card.tvAudio.get(), L"TV Audio"), S_OK);
  EXPECT_EQ(graph->AddFilter(card.crossbar.get(), L"Crossbar"), S_OK);
  EXPECT_EQ(graph->AddFilter(card.capture.get(), L"Capture Device"), S_OK);
  const struct {
    IBaseFilter* from;
    const wchar_t* out;
    IBaseFilter* to;
    const wchar_t* in;
  } wires[] = {
      {card.tuner.get(), L"Analog Video", card.crossbar.get(), L"0: Video Tuner In"},
      {card.tuner.get(), L"Analog Audio", card.tvAudio.get(), L"TVAudio In"},
      {card.tvAudio.get(), L"TVAudio Out", card.crossbar.get(), L"3: Audio Tuner In"},
      {card.crossbar.get(), L"0: Video Decoder Out", card.capture.get(), L"Analog Video In"},
  };
  for (const auto& wire : wires) {
    EXPECT_EQ(graph->ConnectDirect(PinOf(wire.from, wire.out).get(), PinOf(wire.to, wire.in).get(),
                                   nullptr),
              S_OK);
  }
}

HRESULT CardGraph::ConnectCapture(const wchar_t* pin, IBaseFilter* sink, IPin* in) {
  const HRESULT hr = graph->AddFilter(sink, L"Sink");
  if (FAILED(hr)) {
    return hr;
  }
  return graph->ConnectDirect(PinOf(card.capture.get(), pin).get(), in, nullptr);
}

void CardGraph::Release() {
  EXPECT_EQ(control->Stop(), S_OK);
  // When a filter refuses to pause, Wine's graph leaves the filters it had already paused in
  // that state while it reports itself stopped, so its Stop does nothing; and releasing a graph
  // whose filters cannot be disconnected spins forever. Stop every filter directly.
  ComPtr<IEnumFilters> filters;
  EXPECT_EQ(graph->EnumFilters(filters.put()), S_OK);
  ComPtr<IBaseFilter> filter;
  while (filters && filters->Next(1, filter.put(), nullptr) == S_OK) {
    EXPECT_TRUE(SUCCEEDED(filter->Stop()));
  }
  filter.reset();
  filters.reset();
  control.reset();
  events.reset();
  card = CardFilters();
  ReleaseLast(graph);
}

uint32_t PixelAt(const std::vector<uint8_t>& frame, int width, int height, int x, int y) {
  const size_t at = (static_cast<size_t>(height - 1 - y) * width + x) * 3;
  if (at + 2 >= frame.size()) {
    ADD_FAILURE() << "pixel " << x << "," << y << " outside the frame";
    return 0;
  }
  return frame[at + 2] << 16 | frame[at + 1] << 8 | frame[at];
}

}  // namespace kvx::test
