#include "tests/win/support/com_test.h"

#include <utility>

namespace kvx::test {

void ComTest::SetUp() {
  ASSERT_EQ(LiveObject::Count(), 0) << "an earlier test leaked objects";
  com_ = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ASSERT_TRUE(SUCCEEDED(com_)) << std::hex << com_;
}

void ComTest::TearDown() {
  EXPECT_EQ(LiveObject::Count(), 0) << "objects of ours outlived the test";
  if (SUCCEEDED(com_)) {
    CoUninitialize();
  }
}

ComPtr<PipRenderer> NewRenderer() {
  HRESULT hr = E_FAIL;
  ComPtr<PipRenderer> renderer(new PipRenderer(nullptr, &hr));
  EXPECT_EQ(hr, S_OK);
  return renderer;
}

ComPtr<IGraphBuilder> NewGraph() {
  ComPtr<IGraphBuilder> graph;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             graph.put_void()),
            S_OK);
  return graph;
}

ComPtr<IPin> FindPin(IBaseFilter* filter, const wchar_t* name) {
  ComPtr<IPin> pin;
  EXPECT_EQ(filter->FindPin(name, pin.put()), S_OK);
  return pin;
}

Chain::Chain(std::vector<MediaTypeValue> offered)
    : graph(NewGraph()), renderer(NewRenderer()), source(TestSource::Create(std::move(offered))) {
  EXPECT_EQ(graph->AddFilter(renderer.get(), L"PiP Renderer"), S_OK);
  EXPECT_EQ(graph->AddFilter(source.get(), L"Test Source"), S_OK);
  in = FindPin(renderer.get(), L"Video In");
  out = ComPtr<IPin>(source->OutputPin());
  control = Query<IMediaControl>(graph, IID_IMediaControl);
}

void Chain::Release() {
  source->StopDelivering();
  control.reset();
  in.reset();
  out.reset();
  source.reset();
  renderer.reset();
  ReleaseLast(graph);
  EXPECT_EQ(LiveObject::Count(), 0);
}

HRESULT Chain::ConnectDirect(const MediaTypeValue& type) {
  return graph->ConnectDirect(out.get(), in.get(), &type.get());
}

std::vector<CompleteEvent> TakeCompleteEvents(IMediaEvent* events, long waitMs) {
  std::vector<CompleteEvent> complete;
  long code;
  LONG_PTR param1;
  LONG_PTR param2;
  while (events->GetEvent(&code, &param1, &param2, waitMs) == S_OK) {
    if (code == EC_COMPLETE) {
      complete.push_back({param1, param2});
    }
    EXPECT_EQ(events->FreeEventParams(code, param1, param2), S_OK);
  }
  return complete;
}

std::vector<uint8_t> FrameBytes(PipRenderer* renderer) {
  BYTE* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t format = -1;
  if (renderer->GetFrame(&pixels, &width, &height, &format) != S_OK) {
    return {};
  }
  const size_t bytes = static_cast<size_t>(width) * height * (format == 2 ? 3 : 2);
  return std::vector<uint8_t>(pixels, pixels + bytes);
}

bool AllBytesAre(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& pattern) {
  if (bytes.empty() || pattern.empty()) {
    return false;
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != pattern[i % pattern.size()]) {
      return false;
    }
  }
  return true;
}

}  // namespace kvx::test
