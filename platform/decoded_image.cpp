#include "platform/decoded_image.h"

#include <algorithm>

#include "platform/system_functions.h"
#include "platform/win32.h"

#include <wincodec.h>

namespace osvari {
namespace {

// Exported by windowscodecs.dll beside its COM class: a factory without a class lookup.
using CreateFactory = HRESULT(WINAPI*)(UINT sdk_version, IWICImagingFactory** factory);

// GUID_WICPixelFormat32bppPBGRA, without linking the GUID library for one value.
constexpr GUID premultiplied_bgra = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x10}};

// Releases a COM interface once.
template <typename Interface>
class Com {
 public:
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  Interface** out() { return &pointer_; }
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace

std::optional<DecodedImage> decode_image(std::span<const unsigned char> file, int max_width, int max_height) {
  static const auto create_factory = system_function<CreateFactory>(L"windowscodecs.dll", "WICCreateImagingFactory_Proxy");
  static const auto initialize = system_function<decltype(&CoInitializeEx)>(L"ole32.dll", "CoInitializeEx");
  if (create_factory == nullptr || file.empty() || file.size() > 0xFFFFFFFFU) return std::nullopt;
  // The codecs are COM objects; this thread may not have met COM yet.
  if (initialize != nullptr) (void)initialize(nullptr, COINIT_MULTITHREADED);

  Com<IWICImagingFactory> factory;
  Com<IWICStream> stream;
  Com<IWICBitmapDecoder> decoder;
  Com<IWICBitmapFrameDecode> frame;
  if (FAILED(create_factory(WINCODEC_SDK_VERSION, factory.out())) || FAILED(factory->CreateStream(stream.out())) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(file.data()), static_cast<DWORD>(file.size()))) ||
      FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.out())) ||
      FAILED(decoder->GetFrame(0, frame.out()))) {
    return std::nullopt;
  }
  UINT width = 0;
  UINT height = 0;
  if (FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0) return std::nullopt;

  IWICBitmapSource* source = frame.get();
  Com<IWICBitmapScaler> scaler;
  const double scale = std::min({1.0, static_cast<double>(max_width) / width, static_cast<double>(max_height) / height});
  if (scale < 1.0) {
    width = std::max(1U, static_cast<UINT>(width * scale));
    height = std::max(1U, static_cast<UINT>(height * scale));
    if (FAILED(factory->CreateBitmapScaler(scaler.out())) ||
        FAILED(scaler->Initialize(source, width, height, WICBitmapInterpolationModeFant))) {
      return std::nullopt;
    }
    source = scaler.get();
  }
  Com<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.out())) ||
      FAILED(converter->Initialize(source, premultiplied_bgra, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return std::nullopt;
  }
  DecodedImage image{static_cast<int>(width), static_cast<int>(height), std::vector<std::uint32_t>(width * height)};
  if (FAILED(converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(image.pixels.size() * 4),
                                   reinterpret_cast<BYTE*>(image.pixels.data())))) {
    return std::nullopt;
  }
  return image;
}

}  // namespace osvari
