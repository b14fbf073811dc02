// The PiP Renderer in Wine's own filter graph, fed by a test source filter.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/win/support/com_test.h"
#include "tests/win/support/test_source.h"
#include "tests/win/support/video_types.h"
#include "video/pip_renderer.h"

namespace kvx::test {
namespace {

const std::vector<uint8_t> kBlueYuy2 = {0x1B, 0xE8, 0x1B, 0x65};
const std::vector<uint8_t> kBlueUyvy = {0xE8, 0x1B, 0x65, 0x1B};
const std::vector<uint8_t> kBlueRgb24 = {0xE0, 0x00, 0x00};

FILTER_STATE RendererState(PipRenderer* renderer) {
  FILTER_STATE state = State_Stopped;
  EXPECT_EQ(renderer->GetState(0, &state), S_OK);
  return state;
}

LONG_PTR AsEventParam(PipRenderer* renderer) {
  return reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(renderer));
}

class PipRendererTest : public ComTest {};

TEST_F(PipRendererTest, ConnectsToYuy2Uyvy2AndRgb24InBothFormatBlocks) {
  struct Case {
    const char* name;
    GUID subtype;
    Block block;
    LONG height;
    int32_t format;
    const std::vector<uint8_t>* blue;
  };
  const Case cases[] = {
      {"YUY2 VIDEOINFOHEADER", MEDIASUBTYPE_YUY2, Block::kVideoInfo, 240, 0, &kBlueYuy2},
      {"YUY2 VIDEOINFOHEADER2", MEDIASUBTYPE_YUY2, Block::kVideoInfo2, 240, 0, &kBlueYuy2},
      {"UYVY VIDEOINFOHEADER", MEDIASUBTYPE_UYVY, Block::kVideoInfo, 240, 1, &kBlueUyvy},
      {"UYVY VIDEOINFOHEADER2", MEDIASUBTYPE_UYVY, Block::kVideoInfo2, 240, 1, &kBlueUyvy},
      {"RGB24 VIDEOINFOHEADER", MEDIASUBTYPE_RGB24, Block::kVideoInfo, 240, 2, &kBlueRgb24},
      {"RGB24 VIDEOINFOHEADER2 top-down", MEDIASUBTYPE_RGB24, Block::kVideoInfo2, -240, 2,
       &kBlueRgb24},
  };
  enum How { kDirectWithType, kDirectOwnChoice, kIntelligent };
  for (const Case& c : cases) {
    for (How how : {kDirectWithType, kDirectOwnChoice, kIntelligent}) {
      SCOPED_TRACE(std::string(c.name) + " connected by method " + std::to_string(how));
      const MediaTypeValue wanted = VideoType(c.subtype, 320, c.height, c.block);
      // A refused type first: the source must move on to the one the renderer takes.
      Chain chain({VideoType(MEDIASUBTYPE_RGB32, 320, 240), wanted});
      if (how == kDirectWithType) {
        ASSERT_EQ(chain.ConnectDirect(wanted), S_OK);
      } else if (how == kDirectOwnChoice) {
        ASSERT_EQ(chain.graph->ConnectDirect(chain.out.get(), chain.in.get(), nullptr), S_OK);
      } else {
        ASSERT_EQ(chain.graph->Connect(chain.out.get(), chain.in.get()), S_OK);
      }

      ComPtr<IPin> peer;
      ASSERT_EQ(chain.in->ConnectedTo(peer.put()), S_OK);
      EXPECT_EQ(peer.get(), chain.out.get());
      AM_MEDIA_TYPE connected;
      ASSERT_EQ(chain.in->ConnectionMediaType(&connected), S_OK);
      EXPECT_EQ(connected.subtype, c.subtype);
      EXPECT_EQ(connected.formattype, wanted.get().formattype);
      ASSERT_EQ(connected.cbFormat, wanted.get().cbFormat);
      EXPECT_NE(connected.pbFormat, wanted.get().pbFormat);
      EXPECT_EQ(std::memcmp(connected.pbFormat, wanted.get().pbFormat, connected.cbFormat), 0);
      FreeMediaTypeFields(&connected);
      EXPECT_EQ(chain.in->QueryAccept(&wanted.get()), S_OK);

      BYTE* pixels = nullptr;
      int32_t width = 0;
      int32_t height = 0;
      int32_t format = -1;
      ASSERT_EQ(chain.renderer->GetFrame(&pixels, &width, &height, &format), S_OK);
      EXPECT_EQ(width, 320);
      EXPECT_EQ(height, 240);
      EXPECT_EQ(format, c.format);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(pixels) % 64, 0u);
      EXPECT_TRUE(AllBytesAre(FrameBytes(chain.renderer.get()), *c.blue));

      // Breaking the connection frees the store.
      EXPECT_EQ(chain.graph->Disconnect(chain.out.get()), S_OK);
      EXPECT_EQ(chain.graph->Disconnect(chain.in.get()), S_OK);
      EXPECT_EQ(chain.renderer->GetFrame(&pixels, nullptr, nullptr, nullptr), E_FAIL);
      EXPECT_EQ(chain.in->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
      chain.Release();
    }
  }
}

TEST_F(PipRendererTest, RefusesOtherAndHostileTypesAtConnection) {
  const MediaTypeValue yuy2 = VideoType(MEDIASUBTYPE_YUY2, 320, 240);
  MediaTypeValue audio = yuy2;
  audio.mutable_type()->majortype = MEDIATYPE_Audio;
  MediaTypeValue wave = yuy2;
  wave.mutable_type()->formattype = FORMAT_WaveFormatEx;
  MediaTypeValue unknownSubtype = yuy2;
  unknownSubtype.mutable_type()->subtype = MEDIASUBTYPE_YVYU;
  MediaTypeValue videoInfoAsVideoInfo2 = yuy2;
  videoInfoAsVideoInfo2.mutable_type()->formattype = FORMAT_VideoInfo2;

  struct Case {
    const char* name;
    MediaTypeValue type;
  };
  const Case cases[] = {
      {"RGB32", VideoType(MEDIASUBTYPE_RGB32, 320, 240)},
      {"MJPG", VideoType(MEDIASUBTYPE_MJPG, 320, 240)},
      {"YVYU", unknownSubtype},
      {"audio major type", audio},
      {"wave format block", wave},
      {"VIDEOINFOHEADER block of 87 bytes", WithBlockSize(yuy2, 87)},
      {"VIDEOINFOHEADER2 block of 111 bytes",
       WithBlockSize(VideoType(MEDIASUBTYPE_UYVY, 320, 240, Block::kVideoInfo2), 111)},
      {"VIDEOINFOHEADER announced as VIDEOINFOHEADER2", videoInfoAsVideoInfo2},
      {"no format block", WithBlockSize(yuy2, 0)},
      {"zero width", VideoType(MEDIASUBTYPE_YUY2, 0, 240)},
      {"zero height", VideoType(MEDIASUBTYPE_RGB24, 320, 0)},
      {"negative width", VideoType(MEDIASUBTYPE_RGB24, -320, 240)},
      {"absurd width", VideoType(MEDIASUBTYPE_RGB24, 100000, 2)},
      {"absurd height", VideoType(MEDIASUBTYPE_YUY2, 2, -100000)},
      {"most negative height", VideoType(MEDIASUBTYPE_RGB24, 2, INT32_MIN)},
      {"odd-width YUY2", VideoType(MEDIASUBTYPE_YUY2, 721, 576)},
      {"odd-width UYVY", VideoType(MEDIASUBTYPE_UYVY, 1, 1, Block::kVideoInfo2)},
      // 4:2:0 planes hold whole 2x2 blocks.
      {"odd-height NV12", VideoType(MEDIASUBTYPE_NV12, 320, 241)},
      {"odd-width I420", VideoType(kSubtypeI420, 319, 240, Block::kVideoInfo2)},
      {"absurd YV12", VideoType(MEDIASUBTYPE_YV12, 16384, 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Chain chain({c.type});
    EXPECT_EQ(chain.in->QueryAccept(&c.type.get()), S_FALSE);
    EXPECT_EQ(chain.ConnectDirect(c.type), VFW_E_TYPE_NOT_ACCEPTED);
    // Left to choose, the source finds nothing the renderer takes.
    EXPECT_EQ(chain.graph->ConnectDirect(chain.out.get(), chain.in.get(), nullptr),
              VFW_E_NO_ACCEPTABLE_TYPES);
    ComPtr<IPin> peer;
    EXPECT_EQ(chain.in->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(chain.out->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
    BYTE* pixels = nullptr;
    EXPECT_EQ(chain.renderer->GetFrame(&pixels, nullptr, nullptr, nullptr), E_FAIL);
    chain.Release();
  }

  // A block size without a block cannot travel through MediaTypeValue; hand it in raw.
  Chain chain({yuy2});
  AM_MEDIA_TYPE raw = yuy2.get();
  raw.pbFormat = nullptr;
  EXPECT_EQ(chain.in->QueryAccept(&raw), S_FALSE);
  EXPECT_EQ(chain.in->ReceiveConnection(chain.out.get(), &raw), VFW_E_TYPE_NOT_ACCEPTED);
  chain.Release();
}

TEST_F(PipRendererTest, StoresSamplesOnlyWhileRunningAndKeepsTheLastFrame) {
  const MediaTypeValue type = VideoType(MEDIASUBTYPE_YUY2, 16, 4);  // 128 bytes
  Chain chain({type});
  ASSERT_EQ(chain.ConnectDirect(type), S_OK);
  TestSource& source = *chain.source.get();

  EXPECT_EQ(source.DeliverSample(0x11), S_FALSE);  // stopped
  ASSERT_EQ(chain.control->Pause(), S_OK);
  EXPECT_EQ(RendererState(chain.renderer.get()), State_Paused);
  EXPECT_EQ(source.DeliverSample(0x22), S_FALSE);
  EXPECT_TRUE(AllBytesAre(FrameBytes(chain.renderer.get()), kBlueYuy2));

  ASSERT_EQ(chain.control->Run(), S_OK);
  EXPECT_EQ(RendererState(chain.renderer.get()), State_Running);
  EXPECT_EQ(source.DeliverSample(0x33), S_OK);
  EXPECT_TRUE(AllBytesAre(FrameBytes(chain.renderer.get()), {0x33}));
  // A short sample overwrites its own length only.
  EXPECT_EQ(source.DeliverSample(0x34, 64), S_OK);
  std::vector<uint8_t> frame = FrameBytes(chain.renderer.get());
  ASSERT_EQ(frame.size(), 128u);
  EXPECT_TRUE(AllBytesAre({frame.begin(), frame.begin() + 64}, {0x34}));
  EXPECT_TRUE(AllBytesAre({frame.begin() + 64, frame.end()}, {0x33}));

  ASSERT_EQ(chain.control->Pause(), S_OK);
  EXPECT_EQ(source.DeliverSample(0x44), S_FALSE);
  EXPECT_EQ(FrameBytes(chain.renderer.get()), frame);

  ASSERT_EQ(chain.control->Run(), S_OK);
  EXPECT_EQ(source.DeliverSample(0x55), S_OK);
  ASSERT_EQ(chain.control->Stop(), S_OK);
  EXPECT_EQ(RendererState(chain.renderer.get()), State_Stopped);
  EXPECT_EQ(source.DeliverSample(0x66), S_FALSE);
  EXPECT_TRUE(AllBytesAre(FrameBytes(chain.renderer.get()), {0x55}));

  ComPtr<IMemInputPin> input = Query<IMemInputPin>(chain.in, IID_IMemInputPin);
  EXPECT_EQ(input->Receive(nullptr), E_POINTER);
  EXPECT_EQ(input->ReceiveCanBlock(), S_FALSE);
  input.reset();
  chain.Release();
}

TEST_F(PipRendererTest, ReceiveMultipleStopsAtTheFirstRefusal) {
  const MediaTypeValue type = VideoType(MEDIASUBTYPE_RGB24, 4, 2);  // 24 bytes
  Chain chain({type});
  ASSERT_EQ(chain.ConnectDirect(type), S_OK);
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMemAllocator, allocator.put_void()),
            S_OK);
  ALLOCATOR_PROPERTIES wanted = {2, 24, 1, 0};
  ALLOCATOR_PROPERTIES actual;
  ASSERT_EQ(allocator->SetProperties(&wanted, &actual), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample> first;
  ComPtr<IMediaSample> second;
  ASSERT_EQ(allocator->GetBuffer(first.put(), nullptr, nullptr, 0), S_OK);
  ASSERT_EQ(allocator->GetBuffer(second.put(), nullptr, nullptr, 0), S_OK);
  for (auto [sample, fill] : {std::pair{first.get(), 0x0A}, std::pair{second.get(), 0x0B}}) {
    BYTE* data = nullptr;
    ASSERT_EQ(sample->GetPointer(&data), S_OK);
    std::memset(data, fill, 24);
    ASSERT_EQ(sample->SetActualDataLength(24), S_OK);
  }
  IMediaSample* samples[] = {first.get(), second.get()};
  ComPtr<IMemInputPin> input = Query<IMemInputPin>(chain.in, IID_IMemInputPin);

  long done = -1;
  EXPECT_EQ(input->ReceiveMultiple(samples, 2, &done), S_FALSE);  // stopped
  EXPECT_EQ(done, 0);
  ASSERT_EQ(chain.control->Run(), S_OK);
  EXPECT_EQ(input->ReceiveMultiple(samples, 2, &done), S_OK);
  EXPECT_EQ(done, 2);
  EXPECT_TRUE(AllBytesAre(FrameBytes(chain.renderer.get()), {0x0B}));
  EXPECT_EQ(input->ReceiveMultiple(nullptr, 2, &done), E_POINTER);
  ASSERT_EQ(chain.control->Stop(), S_OK);

  input.reset();
  first.reset();
  second.reset();
  EXPECT_EQ(allocator->Decommit(), S_OK);
  allocator.reset();
  chain.Release();
}

TEST_F(PipRendererTest, RunWithoutConnectionReachesRunningAndCompletesOnce) {
  ComPtr<IGraphBuilder> graph = NewGraph();
  ComPtr<PipRenderer> renderer = NewRenderer();
  ASSERT_EQ(graph->AddFilter(renderer.get(), L"PiP Renderer"), S_OK);
  ComPtr<IMediaControl> control = Query<IMediaControl>(graph, IID_IMediaControl);
  ComPtr<IMediaEventEx> events = Query<IMediaEventEx>(graph, IID_IMediaEventEx);
  // The graph would otherwise count renderers by interfaces ours lacks and hold the event back.
  ASSERT_EQ(events->CancelDefaultHandling(EC_COMPLETE), S_OK);

  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(control->Run(), S_OK);
    OAFilterState state = State_Stopped;
    EXPECT_EQ(control->GetState(1000, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(RendererState(renderer.get()), State_Running);
    const std::vector<CompleteEvent> complete = TakeCompleteEvents(events.get());
    ASSERT_EQ(complete.size(), 1u);
    EXPECT_EQ(complete[0].param1, S_OK);
    EXPECT_EQ(complete[0].param2, AsEventParam(renderer.get()));

    ASSERT_EQ(control->Pause(), S_OK);
    EXPECT_EQ(RendererState(renderer.get()), State_Paused);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(RendererState(renderer.get()), State_Stopped);
    EXPECT_TRUE(TakeCompleteEvents(events.get()).empty());
  }

  events.reset();
  control.reset();
  renderer.reset();
  ReleaseLast(graph);
}

TEST_F(PipRendererTest, EndOfStreamWhilePausedSignalsOnceAtRun) {
  const MediaTypeValue type = VideoType(MEDIASUBTYPE_UYVY, 8, 2);
  Chain chain({type});
  ASSERT_EQ(chain.ConnectDirect(type), S_OK);
  ComPtr<IMediaEventEx> events = Query<IMediaEventEx>(chain.graph, IID_IMediaEventEx);
  ASSERT_EQ(events->CancelDefaultHandling(EC_COMPLETE), S_OK);
  TestSource& source = *chain.source.get();
  const auto completions = [&] { return TakeCompleteEvents(events.get()).size(); };

  ASSERT_EQ(chain.control->Pause(), S_OK);
  EXPECT_EQ(source.DeliverEndOfStream(), S_OK);
  EXPECT_EQ(completions(), 0u);
  ASSERT_EQ(chain.control->Run(), S_OK);
  const std::vector<CompleteEvent> complete = TakeCompleteEvents(events.get());
  ASSERT_EQ(complete.size(), 1u);
  EXPECT_EQ(complete[0].param1, S_OK);
  EXPECT_EQ(complete[0].param2, AsEventParam(chain.renderer.get()));
  // A second end of stream adds nothing.
  EXPECT_EQ(source.DeliverEndOfStream(), S_OK);
  EXPECT_EQ(completions(), 0u);
  // The ended stream completes again at the next run.
  ASSERT_EQ(chain.control->Pause(), S_OK);
  ASSERT_EQ(chain.control->Run(), S_OK);
  EXPECT_EQ(completions(), 1u);

  // Stopped, end of stream is refused; starting again forgets the old one.
  ASSERT_EQ(chain.control->Stop(), S_OK);
  EXPECT_EQ(source.DeliverEndOfStream(), VFW_E_WRONG_STATE);
  ASSERT_EQ(chain.control->Run(), S_OK);
  EXPECT_EQ(completions(), 0u);
  EXPECT_EQ(source.DeliverEndOfStream(), S_OK);
  EXPECT_EQ(completions(), 1u);
  EXPECT_EQ(source.DeliverEndOfStream(), S_OK);
  EXPECT_EQ(completions(), 0u);

  // A flush ends the stream's end: while flushing it is ignored, afterwards it counts again.
  ASSERT_EQ(chain.in->BeginFlush(), S_OK);
  EXPECT_EQ(source.DeliverEndOfStream(), S_FALSE);
  ASSERT_EQ(chain.in->EndFlush(), S_OK);
  EXPECT_EQ(completions(), 0u);
  EXPECT_EQ(source.DeliverEndOfStream(), S_OK);
  EXPECT_EQ(completions(), 1u);
  ASSERT_EQ(chain.control->Stop(), S_OK);

  events.reset();
  chain.Release();
}

TEST_F(PipRendererTest, PipBufferIsTheRenderersOwnInterfaceAndCount) {
  ComPtr<PipRenderer> renderer = NewRenderer();
  ComPtr<IBaseFilter> filter = Query<IBaseFilter>(renderer, IID_IBaseFilter);
  IPiPBuffer* buffer = nullptr;
  ASSERT_EQ(filter->QueryInterface(IID_IPiPBuffer, reinterpret_cast<void**>(&buffer)), S_OK);
  EXPECT_EQ(buffer, static_cast<IPiPBuffer*>(renderer.get()));
  // Three references so far: ours, the filter's and the buffer's; one count for all.
  EXPECT_EQ(buffer->AddRef(), 4u);
  EXPECT_EQ(filter.detach()->Release(), 3u);

  ComPtr<IUnknown> fromBuffer;
  ComPtr<IUnknown> fromRenderer;
  ASSERT_EQ(buffer->QueryInterface(IID_IUnknown, fromBuffer.put_void()), S_OK);
  ASSERT_EQ(renderer->QueryInterface(IID_IUnknown, fromRenderer.put_void()), S_OK);
  EXPECT_EQ(fromBuffer.get(), fromRenderer.get());
  fromBuffer.reset();
  fromRenderer.reset();
  ComPtr<IBaseFilter> back;
  ASSERT_EQ(buffer->QueryInterface(IID_IBaseFilter, back.put_void()), S_OK);
  EXPECT_EQ(back.get(), static_cast<IBaseFilter*>(renderer.get()));
  back.reset();

  BYTE* pixels = nullptr;
  int32_t width = 0;
  EXPECT_EQ(buffer->GetFrame(&pixels, &width, nullptr, nullptr), E_FAIL);
  EXPECT_EQ(buffer->GetFrame(nullptr, &width, nullptr, nullptr), E_POINTER);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(renderer->QueryInterface(IID_IMediaSeeking, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);

  EXPECT_EQ(buffer->Release(), 2u);
  EXPECT_EQ(buffer->Release(), 1u);
  ReleaseLast(renderer);
}

TEST_F(PipRendererTest, IdentifiesItselfAsPipRendererWithOneVideoInPin) {
  ComPtr<IGraphBuilder> graph = NewGraph();
  ComPtr<PipRenderer> renderer = NewRenderer();
  ASSERT_EQ(graph->AddFilter(renderer.get(), L"PiP Renderer"), S_OK);

  FILTER_INFO info;
  ASSERT_EQ(renderer->QueryFilterInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"PiP Renderer");
  ComPtr<IFilterGraph> asFilterGraph = Query<IFilterGraph>(graph, IID_IFilterGraph);
  EXPECT_EQ(info.pGraph, asFilterGraph.get());
  info.pGraph->Release();
  asFilterGraph.reset();
  CLSID clsid;
  ASSERT_EQ(renderer->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_PipRenderer);

  ComPtr<IEnumPins> pins;
  ASSERT_EQ(renderer->EnumPins(pins.put()), S_OK);
  IPin* got[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(pins->Next(2, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  ComPtr<IPin> pin;
  pin.attach(got[0]);
  PIN_INFO pinInfo;
  ASSERT_EQ(pin->QueryPinInfo(&pinInfo), S_OK);
  EXPECT_STREQ(pinInfo.achName, L"Video In");
  EXPECT_EQ(pinInfo.dir, PINDIR_INPUT);
  EXPECT_EQ(pinInfo.pFilter, static_cast<IBaseFilter*>(renderer.get()));
  pinInfo.pFilter->Release();
  LPWSTR id = nullptr;
  ASSERT_EQ(pin->QueryId(&id), S_OK);
  EXPECT_STREQ(id, L"Video In");
  CoTaskMemFree(id);
  EXPECT_EQ(FindPin(renderer.get(), L"Video In").get(), pin.get());
  IPin* missing = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(renderer->FindPin(L"Video Out", &missing), VFW_E_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);

  // It proposes no types of its own.
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(pin->EnumMediaTypes(types.put()), S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  EXPECT_EQ(types->Next(1, &type, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(pin->QueryInternalConnections(nullptr, &fetched), E_NOTIMPL);
  ComPtr<IAMovieSetup> setup = Query<IAMovieSetup>(renderer, IID_IAMovieSetup);
  EXPECT_EQ(setup->Register(), S_FALSE);
  EXPECT_EQ(setup->Unregister(), S_FALSE);
  LPWSTR vendor = nullptr;
  EXPECT_EQ(renderer->QueryVendorInfo(&vendor), E_NOTIMPL);

  setup.reset();
  types.reset();
  pins.reset();
  pin.reset();
  renderer.reset();
  ReleaseLast(graph);
}

}  // namespace
}  // namespace kvx::test
