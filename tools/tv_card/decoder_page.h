// The card's property page, "Video Decoder": one read-only text with the capture device's
// standard, line count and whether it has a signal, read when the page is activated.
//
// Threads: the property frame's user-interface thread, which owns the page's window.
//
// Lifetime: the frame holds the page; the page holds the frame's site between SetPageSite(site)
// and SetPageSite(null), which the frame calls before it lets go, and the decoder between
// SetObjects(1, ...) and SetObjects(0, null).
#pragma once

#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include "video/com_object.h"
#include "video/com_ptr.h"

namespace tvcard {

class DecoderPage final : public kvx::ComObjectBase, public IPropertyPage {
 public:
  DecoderPage();
  ~DecoderPage() override;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
  STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
  STDMETHODIMP Deactivate() override;
  STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
  STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
  STDMETHODIMP Show(UINT command) override;
  STDMETHODIMP Move(LPCRECT rect) override;
  STDMETHODIMP IsPageDirty() override;
  STDMETHODIMP Apply() override;
  STDMETHODIMP Help(LPCOLESTR helpDir) override;
  STDMETHODIMP TranslateAccelerator(MSG* message) override;

 protected:
  HRESULT LookupInterface(REFIID iid, void** out) override;

 private:
  kvx::ComPtr<IPropertyPageSite> site_;
  kvx::ComPtr<IAMAnalogVideoDecoder> decoder_;
  HWND window_ = nullptr;
};

}  // namespace tvcard
