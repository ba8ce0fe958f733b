#include "ui/Pictures_win.h"

#include "common/ScopedHandle_win.h"
#include "ui/PictureIds.h"

#include <wincodec.h>

#include <map>
#include <mutex>
#include <tuple>

namespace {

std::mutex gPicturesLock;
std::map<std::pair<int, int>, std::shared_ptr<const TPixelImage>> gRenderings;
std::map<std::tuple<int, int, int>, std::shared_ptr<const TPixelImage>> gShrunk;

// COM for the calling thread while a picture is decoded (the window thread usually has it).
class TComForThread {
 public:
  TComForThread() : FHr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~TComForThread() {
    if (SUCCEEDED(FHr)) ::CoUninitialize();
  }
  TComForThread(const TComForThread&) = delete;
  TComForThread& operator=(const TComForThread&) = delete;

 private:
  HRESULT FHr;
};

// The PNG resource decoded to 32-bit pixels with premultiplied alpha, or null.
std::shared_ptr<const TPixelImage> Decode(int resourceId) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!res) return nullptr;
  HGLOBAL data = ::LoadResource(module, res);
  const DWORD size = ::SizeofResource(module, res);
  auto* bytes = static_cast<BYTE*>(data ? ::LockResource(data) : nullptr);
  if (!bytes || size == 0) return nullptr;
  TComForThread com;
  TComPtr<IWICImagingFactory> factory;
  if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, factory.put_void())))
    return nullptr;
  TComPtr<IWICStream> stream;
  TComPtr<IWICBitmapDecoder> decoder;
  TComPtr<IWICBitmapFrameDecode> frame;
  TComPtr<IWICFormatConverter> converter;
  UINT w = 0, h = 0;
  if (FAILED(factory->CreateStream(stream.put())) || FAILED(stream->InitializeFromMemory(bytes, size)) ||
      FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                              decoder.put())) ||
      FAILED(decoder->GetFrame(0, frame.put())) || FAILED(factory->CreateFormatConverter(converter.put())) ||
      FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                   nullptr, 0.0, WICBitmapPaletteTypeCustom)) ||
      FAILED(converter->GetSize(&w, &h)) || w == 0 || h == 0 || w > 8192 || h > 8192)
    return nullptr;
  auto image = std::make_shared<TPixelImage>();
  image->Width = static_cast<int>(w);
  image->Height = static_cast<int>(h);
  image->Pixels.resize(static_cast<size_t>(w) * h);
  if (FAILED(converter->CopyPixels(nullptr, w * 4, w * h * 4, reinterpret_cast<BYTE*>(image->Pixels.data()))))
    return nullptr;
  // AlphaBlend wants premultiplied colours; the pictures carry straight alpha.
  for (uint32_t& p : image->Pixels) {
    const uint32_t a = p >> 24;
    const uint32_t b = (p & 0xFF) * a / 255, g = ((p >> 8) & 0xFF) * a / 255, r = ((p >> 16) & 0xFF) * a / 255;
    p = (a << 24) | (r << 16) | (g << 8) | b;
  }
  return image;
}

}  // namespace

std::shared_ptr<const TPixelImage> PictureRendering(int id, int scaleIndex) {
  if (id <= 0 || scaleIndex < 0 || scaleIndex >= kPictureScaleCount) return nullptr;
  std::lock_guard lock(gPicturesLock);
  const auto key = std::make_pair(id, scaleIndex);
  auto it = gRenderings.find(key);
  if (it == gRenderings.end()) it = gRenderings.emplace(key, Decode(id + IDB_SCALE_STEP * scaleIndex)).first;
  return it->second;
}

SIZE PictureDesignSize(int id) {
  const auto image = PictureRendering(id, 0);
  return image ? SIZE{image->Width, image->Height} : SIZE{0, 0};
}

std::shared_ptr<const TPixelImage> PictureForBox(int id, int dpi, int width, int height) {
  auto image = PictureRendering(id, PictureScaleIndexForDpi(dpi));
  if (!image) image = PictureRendering(id, 0);
  if (!image || width <= 0 || height <= 0) return image;
  if ((image->Width == width && image->Height == height) || image->Width < width ||
      image->Height < height)
    return image;
  std::lock_guard lock(gPicturesLock);
  const auto key = std::make_tuple(id, width, height);
  auto it = gShrunk.find(key);
  if (it == gShrunk.end())
    it = gShrunk.emplace(key, std::make_shared<const TPixelImage>(ShrinkImage(*image, width, height))).first;
  return it->second;
}
