// The filter and pin framework's own behaviour, through the renderer and the test source.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/win/support/com_test.h"
#include "tests/win/support/test_source.h"
#include "tests/win/support/video_types.h"
#include "video/media_type.h"
#include "video/pip_renderer.h"

namespace kvx::test {
namespace {

// An IUnknown that only counts, standing in for an aggregating object or a pUnk.
class CountingUnknown : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }
  ULONG references = 0;
};

class FilterFramework : public ComTest {};

TEST_F(FilterFramework, AggregatedRendererRoutesItsCountToTheOuterObject) {
  CountingUnknown outer;
  HRESULT hr = E_FAIL;
  auto* renderer = new PipRenderer(&outer, &hr);
  ASSERT_EQ(hr, S_OK);
  IUnknown* inner = renderer->NonDelegatingUnknown();
  EXPECT_EQ(inner->AddRef(), 1u);

  IBaseFilter* filter = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
  EXPECT_EQ(outer.references, 1u);
  IUnknown* identity = nullptr;
  ASSERT_EQ(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, &outer);
  EXPECT_EQ(identity->Release(), 1u);
  // The inner IUnknown answers itself, with its own count.
  IUnknown* self = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self)), S_OK);
  EXPECT_EQ(self, inner);
  EXPECT_EQ(self->Release(), 1u);
  EXPECT_EQ(filter->Release(), 0u);
  EXPECT_EQ(outer.references, 0u);

  EXPECT_EQ(inner->Release(), 0u);
  EXPECT_EQ(LiveObject::Count(), 0);
}

TEST_F(FilterFramework, PinEnumeratorHandsOutEachPinOnceAndNoticesChanges) {
  ComPtr<TestSource> source = TestSource::Create({});
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(source->EnumPins(pins.put()), S_OK);
  IPin* got[2] = {};
  ULONG fetched = 9;
  EXPECT_EQ(pins->Next(2, got, nullptr), E_INVALIDARG);
  EXPECT_EQ(pins->Next(1, nullptr, &fetched), E_POINTER);
  ASSERT_EQ(pins->Next(1, got, &fetched), S_OK);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(got[0], source->OutputPin());
  got[0]->Release();
  EXPECT_EQ(pins->Next(1, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  ASSERT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Skip(1), S_OK);
  EXPECT_EQ(pins->Skip(1), S_FALSE);
  ASSERT_EQ(pins->Reset(), S_OK);
  ComPtr<IEnumPins> clone;
  ASSERT_EQ(pins->Clone(clone.put()), S_OK);
  ASSERT_EQ(clone->Next(1, got, nullptr), S_OK);
  got[0]->Release();

  // The pins changed: Skip and Clone refuse, Next starts over without repeating a pin.
  source->ChangePins();
  EXPECT_EQ(clone->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  IEnumPins* none = reinterpret_cast<IEnumPins*>(1);
  EXPECT_EQ(clone->Clone(&none), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(clone->Next(1, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  ASSERT_EQ(clone->Reset(), S_OK);
  ASSERT_EQ(clone->Next(1, got, &fetched), S_OK);
  got[0]->Release();

  clone.reset();
  pins.reset();
  ReleaseLast(source);
}

TEST_F(FilterFramework, MediaTypeEnumeratorHandsOutDeepCopiesOfTheProposals) {
  std::vector<MediaTypeValue> offered = {VideoType(MEDIASUBTYPE_YUY2, 32, 2),
                                         VideoType(MEDIASUBTYPE_UYVY, 32, 2, Block::kVideoInfo2),
                                         VideoType(MEDIASUBTYPE_RGB24, 32, 2)};
  ComPtr<TestSource> source = TestSource::Create(offered);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(source->OutputPin()->EnumMediaTypes(types.put()), S_OK);

  AM_MEDIA_TYPE* got[2] = {};
  ULONG fetched = 0;
  ASSERT_EQ(types->Next(2, got, &fetched), S_OK);
  ASSERT_EQ(fetched, 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(got[i]->subtype, offered[i].get().subtype);
    ASSERT_EQ(got[i]->cbFormat, offered[i].get().cbFormat);
    EXPECT_NE(got[i]->pbFormat, offered[i].get().pbFormat);
    EXPECT_EQ(std::memcmp(got[i]->pbFormat, offered[i].get().pbFormat, got[i]->cbFormat), 0);
    DeleteTaskMediaType(got[i]);
  }
  ASSERT_EQ(types->Next(2, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(got[0]->subtype, MEDIASUBTYPE_RGB24);
  DeleteTaskMediaType(got[0]);

  ASSERT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(types->Skip(2), S_OK);
  ComPtr<IEnumMediaTypes> clone;
  ASSERT_EQ(types->Clone(clone.put()), S_OK);
  ASSERT_EQ(clone->Next(1, got, nullptr), S_OK);
  EXPECT_EQ(got[0]->subtype, MEDIASUBTYPE_RGB24);
  DeleteTaskMediaType(got[0]);
  EXPECT_EQ(types->Skip(2), S_FALSE);

  // New proposals: the open enumerators are out of date until reset.
  source->Pin().SetOffered({VideoType(MEDIASUBTYPE_RGB32, 8, 8)});
  EXPECT_EQ(types->Next(1, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(types->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  ASSERT_EQ(types->Reset(), S_OK);
  ASSERT_EQ(types->Next(1, got, &fetched), S_OK);
  EXPECT_EQ(got[0]->subtype, MEDIASUBTYPE_RGB32);
  DeleteTaskMediaType(got[0]);

  clone.reset();
  types.reset();
  ReleaseLast(source);
}

TEST_F(FilterFramework, ConnectionRulesOfTheInputPin) {
  const MediaTypeValue type = VideoType(MEDIASUBTYPE_YUY2, 16, 2);
  ComPtr<PipRenderer> renderer = NewRenderer();
  ComPtr<PipRenderer> other = NewRenderer();
  ComPtr<TestSource> source = TestSource::Create({type});
  ComPtr<IPin> in = FindPin(renderer.get(), L"Video In");
  ComPtr<IPin> otherIn = FindPin(other.get(), L"Video In");
  IPin* out = source->OutputPin();

  EXPECT_EQ(in->ReceiveConnection(nullptr, &type.get()), E_POINTER);
  EXPECT_EQ(in->ReceiveConnection(out, nullptr), E_POINTER);
  EXPECT_EQ(in->ReceiveConnection(otherIn.get(), &type.get()), VFW_E_INVALID_DIRECTION);
  EXPECT_EQ(in->Connect(out, &type.get()), E_UNEXPECTED);
  EXPECT_EQ(in->QueryAccept(nullptr), E_POINTER);
  ComPtr<IPin> peer;
  EXPECT_EQ(in->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer.get(), nullptr);
  AM_MEDIA_TYPE connected;
  EXPECT_EQ(in->ConnectionMediaType(&connected), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(in->Disconnect(), S_FALSE);

  ASSERT_EQ(renderer->Pause(), S_OK);
  EXPECT_EQ(in->ReceiveConnection(out, &type.get()), VFW_E_NOT_STOPPED);
  ASSERT_EQ(renderer->Stop(), S_OK);

  // Outside a graph, through the source pin's own Connect.
  ASSERT_EQ(out->Connect(in.get(), &type.get()), S_OK);
  EXPECT_EQ(in->ReceiveConnection(out, &type.get()), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(out->Connect(otherIn.get(), &type.get()), VFW_E_ALREADY_CONNECTED);

  // The allocator the source agreed on is the pin's; deactivation decommits it.
  ComPtr<IMemInputPin> input = Query<IMemInputPin>(in, IID_IMemInputPin);
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(input->GetAllocator(allocator.put()), S_OK);
  ComPtr<IMemAllocator> again;
  ASSERT_EQ(input->GetAllocator(again.put()), S_OK);
  EXPECT_EQ(again.get(), allocator.get());
  ASSERT_EQ(allocator->Commit(), S_OK);
  ASSERT_EQ(renderer->Pause(), S_OK);
  EXPECT_EQ(in->Disconnect(), VFW_E_NOT_STOPPED);
  ASSERT_EQ(renderer->Stop(), S_OK);
  ComPtr<IMediaSample> sample;
  EXPECT_EQ(allocator->GetBuffer(sample.put(), nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  ALLOCATOR_PROPERTIES properties;
  EXPECT_EQ(input->GetAllocatorRequirements(&properties), E_NOTIMPL);
  EXPECT_EQ(input->NotifyAllocator(nullptr, FALSE), E_POINTER);

  ASSERT_EQ(in->Disconnect(), S_OK);
  EXPECT_EQ(in->Disconnect(), S_FALSE);
  ASSERT_EQ(out->Disconnect(), S_OK);
  // Connection broken: the pin let go of the allocator and makes a new one on request.
  ASSERT_EQ(input->GetAllocator(again.put()), S_OK);
  EXPECT_NE(again.get(), allocator.get());

  // The renderer's pin was never given an allocator by anyone.
  EXPECT_EQ(otherIn->QueryDirection(nullptr), E_POINTER);
  PinBase* bare = other->PinAt(0);
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->OnDeactivate(), VFW_E_NO_ALLOCATOR);
  EXPECT_EQ(other->PinAt(1), nullptr);

  again.reset();
  sample.reset();
  allocator.reset();
  input.reset();
  otherIn.reset();
  in.reset();
  ReleaseLast(source);
  ReleaseLast(other);
  ReleaseLast(renderer);
}

TEST_F(FilterFramework, FilterKeepsItsClockNameAndState) {
  ComPtr<PipRenderer> renderer = NewRenderer();
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                             clock.put_void()),
            S_OK);
  ASSERT_EQ(renderer->SetSyncSource(clock.get()), S_OK);
  ComPtr<IReferenceClock> kept;
  ASSERT_EQ(renderer->GetSyncSource(kept.put()), S_OK);
  EXPECT_EQ(kept.get(), clock.get());
  ASSERT_EQ(renderer->SetSyncSource(nullptr), S_OK);
  ASSERT_EQ(renderer->GetSyncSource(kept.put()), S_OK);
  EXPECT_EQ(kept.get(), nullptr);
  EXPECT_EQ(renderer->GetSyncSource(nullptr), E_POINTER);
  ReleaseLast(clock);

  // The name is cut to what FILTER_INFO holds; outside a graph there is none and no event sink.
  const std::wstring longName(200, L'x');
  ASSERT_EQ(renderer->JoinFilterGraph(nullptr, longName.c_str()), S_OK);
  FILTER_INFO info;
  ASSERT_EQ(renderer->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::wstring(info.achName), longName.substr(0, MAX_FILTER_NAME - 1));
  EXPECT_EQ(info.pGraph, nullptr);
  EXPECT_EQ(renderer->NotifyEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL);
  EXPECT_EQ(renderer->QueryFilterInfo(nullptr), E_POINTER);
  EXPECT_EQ(renderer->GetState(0, nullptr), E_POINTER);
  EXPECT_EQ(renderer->GetClassID(nullptr), E_POINTER);

  // Unconnected, Run completes at once and the state follows the calls.
  ASSERT_EQ(renderer->Run(0), S_OK);
  FILTER_STATE state;
  ASSERT_EQ(renderer->GetState(INFINITE, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  ASSERT_EQ(renderer->Pause(), S_OK);
  ASSERT_EQ(renderer->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  ASSERT_EQ(renderer->Stop(), S_OK);
  ASSERT_EQ(renderer->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  ReleaseLast(renderer);
}

TEST_F(FilterFramework, MediaTypeValueOwnsItsBlockAndReference) {
  CountingUnknown unknown;
  MediaTypeValue original = VideoType(MEDIASUBTYPE_YUY2, 8, 2);
  original.mutable_type()->pUnk = &unknown;
  unknown.AddRef();
  {
    MediaTypeValue copy = original;
    EXPECT_EQ(unknown.references, 2u);
    ASSERT_NE(copy.get().pbFormat, nullptr);
    EXPECT_NE(copy.get().pbFormat, original.get().pbFormat);
    copy.get().pbFormat[0] ^= 0xFF;
    EXPECT_NE(copy.get().pbFormat[0], original.get().pbFormat[0]);

    AM_MEDIA_TYPE* task = copy.NewTaskCopy();
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(unknown.references, 3u);
    DeleteTaskMediaType(task);
    EXPECT_EQ(unknown.references, 2u);

    copy.Clear();
    EXPECT_EQ(unknown.references, 1u);
    EXPECT_EQ(copy.get().pbFormat, nullptr);
    EXPECT_EQ(copy.get().cbFormat, 0u);
  }
  // A size without a block copies as no block.
  AM_MEDIA_TYPE raw = original.get();
  raw.pbFormat = nullptr;
  raw.pUnk = nullptr;
  MediaTypeValue fromRaw;
  ASSERT_EQ(fromRaw.Assign(raw), S_OK);
  EXPECT_EQ(fromRaw.get().cbFormat, 0u);
  EXPECT_EQ(fromRaw.get().pbFormat, nullptr);
  EXPECT_EQ(fromRaw.get().subtype, MEDIASUBTYPE_YUY2);

  original.Clear();
  EXPECT_EQ(unknown.references, 0u);
}

}  // namespace
}  // namespace kvx::test
