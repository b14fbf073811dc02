#include <windows.h>
#include <dshow.h>
#include <olectl.h>

#include "capture/tuning.h"
#include "video/com_ptr.h"

namespace kvx {

void ShowPropertyPages(HWND owner, IUnknown* filter) {
  ComPtr<ISpecifyPropertyPages> specify;
  if (filter == nullptr ||
      FAILED(filter->QueryInterface(IID_ISpecifyPropertyPages, specify.put_void()))) {
    return;
  }
  // The caption is the filter's name in the graph; a filter that cannot tell gets none.
  FILTER_INFO info = {};
  ComPtr<IBaseFilter> base;
  if (SUCCEEDED(filter->QueryInterface(IID_IBaseFilter, base.put_void())) &&
      FAILED(base->QueryFilterInfo(&info))) {
    info = {};
  }
  ComPtr<IFilterGraph> graph;
  graph.attach(info.pGraph);  // may be null
  ComPtr<IUnknown> object;
  CAUUID pages = {0, nullptr};
  if (SUCCEEDED(filter->QueryInterface(IID_IUnknown, object.put_void())) &&
      SUCCEEDED(specify->GetPages(&pages))) {
    specify.reset();
    IUnknown* objects[] = {object.get()};
    OleCreatePropertyFrame(owner, 0, 0, info.achName, 1, objects, pages.cElems, pages.pElems, 0, 0,
                           nullptr);
    CoTaskMemFree(pages.pElems);
  }
}

}  // namespace kvx
