#include "tools/host/png.h"

#include <wincodec.h>

#include <vector>

#include "tools/host/picture.h"
#include "video/com_ptr.h"

namespace zhost {

using kvx::ComPtr;

HRESULT savePng(const std::wstring& path, const uint32_t* pixels, int width, int height) {
  // 24-bit, so no reader takes the unused top byte for transparency.
  std::vector<BYTE> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (size_t i = 0; i < rgb.size() / 3; ++i) {
    rgb[3 * i] = static_cast<BYTE>(pixels[i]);
    rgb[3 * i + 1] = static_cast<BYTE>(pixels[i] >> 8);
    rgb[3 * i + 2] = static_cast<BYTE>(pixels[i] >> 16);
  }
  UINT stride = static_cast<UINT>(width) * 3;

  ComPtr<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, factory.put_void());
  ComPtr<IWICStream> stream;
  if (SUCCEEDED(hr))
    hr = factory->CreateStream(stream.put());
  if (SUCCEEDED(hr))
    hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
  ComPtr<IWICBitmapEncoder> encoder;
  if (SUCCEEDED(hr))
    hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put());
  if (SUCCEEDED(hr))
    hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
  ComPtr<IWICBitmapFrameEncode> frame;
  if (SUCCEEDED(hr))
    hr = encoder->CreateNewFrame(frame.put(), nullptr);
  if (SUCCEEDED(hr))
    hr = frame->Initialize(nullptr);
  if (SUCCEEDED(hr))
    hr = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height));
  // The encoder may pick another layout; WriteSource converts to whatever it chose.
  ComPtr<IWICBitmap> bitmap;
  if (SUCCEEDED(hr))
    hr = factory->CreateBitmapFromMemory(static_cast<UINT>(width), static_cast<UINT>(height),
                                         GUID_WICPixelFormat24bppBGR, stride,
                                         static_cast<UINT>(rgb.size()), rgb.data(), bitmap.put());
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (SUCCEEDED(hr))
    hr = frame->SetPixelFormat(&format);
  if (SUCCEEDED(hr))
    hr = frame->WriteSource(bitmap.get(), nullptr);
  if (SUCCEEDED(hr))
    hr = frame->Commit();
  if (SUCCEEDED(hr))
    hr = encoder->Commit();
  return hr;
}

HRESULT saveScreenPng(const std::wstring& path) {
  int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (width <= 0 || height <= 0)
    return E_FAIL;

  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = createTopDownDib(screen, width, height, &bits);
  HRESULT hr = E_FAIL;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY | CAPTUREBLT);
    GdiFlush();
    SelectObject(memory, old);
    if (copied)
      hr = savePng(path, static_cast<const uint32_t*>(bits), width, height);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return hr;
}

}  // namespace zhost
