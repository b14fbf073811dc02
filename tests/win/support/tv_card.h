// The virtual TV card (tools/tv_card) in Wine tests. TvCardTest loads KvxTvCard.dll from the
// test program's folder and registers it in the test's Wine prefix for the length of one test;
// TearDown checks that none of the card's objects outlived the test, unregisters it (the other
// tests expect empty device categories) and clears the fault switches. The helpers reach the
// card the way a host program does: through the system device enumerator, the filters'
// interfaces and a filter graph built by hand. All on the test thread.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <ks.h>
#include <ksmedia.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/win/support/com_test.h"
#include "tools/tv_card/tv_card.h"
#include "video/com_ptr.h"

namespace kvx::test {

// The tuner's kernel-streaming property set.
inline constexpr GUID kPropSetTuner = {STATIC_PROPSETID_TUNER};
// How long a test waits for the card's frames.
inline constexpr DWORD kWaitMs = 2000;

class TvCardTest : public ComTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The card's live objects: filters, pins, enumerators, class objects, card states.
  LONG CardObjects() const;
  HRESULT Register() const;
  HRESULT Unregister() const;
  // The last media type a card pin received in SetFormat; empty when none came since the last
  // call.
  MediaTypeValue LastSetFormat() const;

 private:
  HMODULE module_ = nullptr;
  tvcard::LiveObjectsFunction liveObjects_ = nullptr;
  tvcard::LastSetFormatFunction lastSetFormat_ = nullptr;
  HRESULT(STDAPICALLTYPE* register_)() = nullptr;
  HRESULT(STDAPICALLTYPE* unregister_)() = nullptr;
};

// Sets the card's fault switches for this process; null clears them.
void SetFaults(const wchar_t* faults);

struct Device {
  std::wstring name;
  std::wstring path;
  bool hasPath = false;
  std::wstring clsid;
};
// The category's devices in the enumerator's order; *result is CreateClassEnumerator's answer.
std::vector<Device> ListDevices(const GUID& category, HRESULT* result);
// Binds the category's device whose "DevicePath" is path; VFW_E_NOT_FOUND if there is none.
HRESULT BindDevice(const GUID& category, const std::wstring& path, ComPtr<IBaseFilter>* filter);

struct CardFilters {
  ComPtr<IBaseFilter> tuner;
  ComPtr<IBaseFilter> tvAudio;
  ComPtr<IBaseFilter> crossbar;
  ComPtr<IBaseFilter> capture;
};
// The four devices of card `number`, bound by their device paths.
CardFilters BindCard(int number);

// Tuner property records through the tuner's IKsPropertySet: the instance data is the record
// after its 24-byte header, the property data the whole record.
HRESULT GetTunerRecord(IBaseFilter* tuner, DWORD id, void* record, DWORD bytes);
HRESULT SetTunerRecord(IBaseFilter* tuner, DWORD id, void* record, DWORD bytes);
HRESULT Tune(IBaseFilter* tuner, ULONG hz);
// The crossbar's video decoder output from the given input.
HRESULT RouteVideo(IBaseFilter* crossbar, LONG input);
HRESULT SetCaptureFormat(IBaseFilter* capture, const wchar_t* pin, const GUID& subtype, LONG width,
                         LONG height);

// A graph holding one card's filters, wired as on the card: tuner video to the crossbar's tuner
// input, tuner audio through the TV audio device to the crossbar's tuner audio input, and the
// crossbar's video decoder output to the capture device.
struct CardGraph {
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  CardFilters card;

  explicit CardGraph(CardFilters filters);
  // Connects the capture device's output pin to `in` (which joins the graph first).
  HRESULT ConnectCapture(const wchar_t* pin, IBaseFilter* sink, IPin* in);
  // Stops the graph and each filter and drops every reference; the graph must be the last to go.
  void Release();
};

// An RGB24 frame (bottom row first) read from the top left, as 0x00RRGGBB.
uint32_t PixelAt(const std::vector<uint8_t>& frame, int width, int height, int x, int y);

}  // namespace kvx::test
