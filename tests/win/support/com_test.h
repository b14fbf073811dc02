// Shared pieces of the COM and filter-graph tests: COM set up per test, a check that no object
// of ours outlives a test, and small helpers around Wine's own filter graph.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "video/com_object.h"
#include "video/com_ptr.h"
#include "tests/win/support/test_source.h"
#include "video/media_type.h"
#include "video/pip_renderer.h"

namespace kvx::test {

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Fails the test if any object of ours is still alive.
  void TearDown() override;

 private:
  HRESULT com_ = E_FAIL;
};

// A new renderer holding one reference.
ComPtr<PipRenderer> NewRenderer();
// A new filter graph from the platform.
ComPtr<IGraphBuilder> NewGraph();
ComPtr<IPin> FindPin(IBaseFilter* filter, const wchar_t* name);

// Releases the last reference: the object must be gone afterwards.
template <class T>
void ReleaseLast(ComPtr<T>& p) {
  ASSERT_TRUE(p);
  EXPECT_EQ(p.detach()->Release(), 0u);
}

template <class I, class T>
ComPtr<I> Query(const ComPtr<T>& object, REFIID iid) {
  ComPtr<I> out;
  EXPECT_EQ(object->QueryInterface(iid, out.put_void()), S_OK);
  return out;
}

// A graph holding a renderer and a test source, both added, not connected.
struct Chain {
  ComPtr<IGraphBuilder> graph;
  ComPtr<PipRenderer> renderer;
  ComPtr<TestSource> source;
  ComPtr<IPin> in;
  ComPtr<IPin> out;
  ComPtr<IMediaControl> control;

  explicit Chain(std::vector<MediaTypeValue> offered);
  // Drops our references; the graph's release must destroy everything.
  void Release();
  HRESULT ConnectDirect(const MediaTypeValue& type);
};

// EC_COMPLETE events the graph queued, waiting up to waitMs for each further event.
struct CompleteEvent {
  LONG_PTR param1;
  LONG_PTR param2;
};
std::vector<CompleteEvent> TakeCompleteEvents(IMediaEvent* events, long waitMs = 50);

// The renderer's frame as bytes; empty when it has none.
std::vector<uint8_t> FrameBytes(PipRenderer* renderer);
bool AllBytesAre(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& pattern);

}  // namespace kvx::test
