#include "tools/tv_card/decoder_page.h"

#include <cstring>
#include <string>

namespace tvcard {
namespace {

struct StandardName {
  LONG standard;
  const wchar_t* name;
};
constexpr StandardName kStandardNames[] = {
    {AnalogVideo_NTSC_M, L"NTSC M"},   {AnalogVideo_NTSC_M_J, L"NTSC M Japan"},
    {AnalogVideo_PAL_B, L"PAL B"},     {AnalogVideo_PAL_D, L"PAL D"},
    {AnalogVideo_PAL_G, L"PAL G"},     {AnalogVideo_PAL_H, L"PAL H"},
    {AnalogVideo_PAL_I, L"PAL I"},     {AnalogVideo_PAL_M, L"PAL M"},
    {AnalogVideo_PAL_N, L"PAL N"},     {AnalogVideo_SECAM_B, L"SECAM B"},
    {AnalogVideo_SECAM_D, L"SECAM D"}, {AnalogVideo_SECAM_G, L"SECAM G"},
    {AnalogVideo_SECAM_K, L"SECAM K"}, {AnalogVideo_SECAM_L, L"SECAM L"},
};

constexpr SIZE kPageSize = {260, 90};

std::wstring Describe(IAMAnalogVideoDecoder* decoder) {
  LONG standard = 0;
  LONG lines = 0;
  LONG locked = 0;
  if (decoder == nullptr || FAILED(decoder->get_TVFormat(&standard)) ||
      FAILED(decoder->get_NumberOfLines(&lines)) ||
      FAILED(decoder->get_HorizontalLocked(&locked))) {
    return L"No decoder.";
  }
  const wchar_t* name = L"?";
  for (const StandardName& entry : kStandardNames) {
    if (entry.standard == standard) {
      name = entry.name;
    }
  }
  return std::wstring(L"Standard: ") + name + L"\r\nLines: " + std::to_wstring(lines) +
         L"\r\nSignal: " + (locked ? L"locked" : L"none");
}

}  // namespace

DecoderPage::DecoderPage() : ComObjectBase(nullptr) {}

DecoderPage::~DecoderPage() {
  Deactivate();
}

HRESULT DecoderPage::QueryInterface(REFIID iid, void** out) {
  return Outer()->QueryInterface(iid, out);
}

ULONG DecoderPage::AddRef() {
  return Outer()->AddRef();
}

ULONG DecoderPage::Release() {
  return Outer()->Release();
}

HRESULT DecoderPage::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IPropertyPage) {
    return HandOut(static_cast<IPropertyPage*>(this), out);
  }
  return ComObjectBase::LookupInterface(iid, out);
}

HRESULT DecoderPage::SetPageSite(IPropertyPageSite* site) {
  site_ = kvx::ComPtr<IPropertyPageSite>(site);
  return S_OK;
}

HRESULT DecoderPage::Activate(HWND parent, LPCRECT rect, BOOL) {
  if (rect == nullptr) {
    return E_POINTER;
  }
  Deactivate();
  window_ = CreateWindowExW(0, L"STATIC", Describe(decoder_.get()).c_str(), WS_CHILD | SS_LEFT,
                            rect->left, rect->top, rect->right - rect->left,
                            rect->bottom - rect->top, parent, nullptr, nullptr, nullptr);
  return window_ != nullptr ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

HRESULT DecoderPage::Deactivate() {
  if (window_ != nullptr) {
    DestroyWindow(window_);
    window_ = nullptr;
  }
  return S_OK;
}

HRESULT DecoderPage::GetPageInfo(PROPPAGEINFO* info) {
  if (info == nullptr) {
    return E_POINTER;
  }
  static constexpr wchar_t kTitle[] = L"Video Decoder";
  std::memset(info, 0, sizeof *info);
  info->cb = sizeof *info;
  info->pszTitle = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof kTitle));
  if (info->pszTitle == nullptr) {
    return E_OUTOFMEMORY;
  }
  std::memcpy(info->pszTitle, kTitle, sizeof kTitle);
  info->size = kPageSize;
  return S_OK;
}

HRESULT DecoderPage::SetObjects(ULONG count, IUnknown** objects) {
  decoder_.reset();
  if (count == 0) {
    return S_OK;
  }
  if (objects == nullptr || objects[0] == nullptr) {
    return E_POINTER;
  }
  // The card's other devices show the page too, without a decoder to describe.
  objects[0]->QueryInterface(IID_IAMAnalogVideoDecoder, decoder_.put_void());
  return S_OK;
}

HRESULT DecoderPage::Show(UINT command) {
  if (window_ == nullptr) {
    return E_UNEXPECTED;
  }
  ShowWindow(window_, static_cast<int>(command));
  return S_OK;
}

HRESULT DecoderPage::Move(LPCRECT rect) {
  if (rect == nullptr) {
    return E_POINTER;
  }
  if (window_ == nullptr) {
    return E_UNEXPECTED;
  }
  MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
             TRUE);
  return S_OK;
}

HRESULT DecoderPage::IsPageDirty() {
  return S_FALSE;
}

HRESULT DecoderPage::Apply() {
  return S_OK;
}

HRESULT DecoderPage::Help(LPCOLESTR) {
  return E_NOTIMPL;
}

HRESULT DecoderPage::TranslateAccelerator(MSG*) {
  return S_FALSE;
}

}  // namespace tvcard
