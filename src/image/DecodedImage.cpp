#include "image/DecodedImage.h"

#include "base/Ascii.h"
#include "image/BmpReader.h"
#include "image/JpegReader.h"
#include "image/PluginReader.h"
#include "image/TiffReader.h"

namespace norvane {

int BytesPerPixel(PixelKind kind) {
  switch (kind) {
    case PixelKind::Indexed8: return 1;
    case PixelKind::Gray16: return 2;
    case PixelKind::Quad32: return 4;
    case PixelKind::Bgr24: return 3;
    case PixelKind::Empty: break;
  }
  return 0;
}

LoadResult CheckDimensions(std::int64_t width, std::int64_t height) {
  if (width < 0 || height < 0) return LoadResult::BadFormat;
  // Both factors are below 2^32 here, so the product cannot overflow.
  if (width > kMaxPixels || height > kMaxPixels || width * height > kMaxPixels) {
    return LoadResult::Unsupported;
  }
  return LoadResult::LoadOk;
}

bool PixelBuffer::Allocate(std::size_t bytes) {
  Reset();
  // calloc hands out zeroed pages lazily, so a large picture costs nothing
  // until it is written. One byte is allocated for an empty picture so that
  // the buffer still counts as present.
  data_.reset(static_cast<std::uint8_t*>(std::calloc(bytes == 0 ? 1 : bytes, 1)));
  if (!data_) return false;
  size_ = bytes;
  return true;
}

void PixelBuffer::Reset() {
  data_.reset();
  size_ = 0;
}

LoadResult DecodedImage::AllocatePixels(std::int32_t w, std::int32_t h, PixelKind kind) {
  const int bpp = BytesPerPixel(kind);
  if (bpp == 0) return LoadResult::BadPixelKind;
  if (CheckDimensions(w, h) != LoadResult::LoadOk) return LoadResult::OutOfMemory;
  const auto bytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * bpp;
  PixelBuffer* buffer = nullptr;
  switch (kind) {
    case PixelKind::Indexed8: buffer = &indexed; break;
    case PixelKind::Gray16: buffer = &gray16; break;
    case PixelKind::Quad32: buffer = &quad; break;
    case PixelKind::Bgr24: buffer = &colour; break;
    case PixelKind::Empty: break;
  }
  if (!buffer->Allocate(bytes)) return LoadResult::OutOfMemory;
  if (kind == PixelKind::Indexed8) SetGrayPalette();
  pixelKind = kind;
  width = w;
  height = h;
  return LoadResult::LoadOk;
}

void DecodedImage::SetGrayPalette() {
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    palette[i] = PaletteEntry{v, v, v, 0};
  }
}

void DecodedImage::ReleasePixels() {
  pixelKind = PixelKind::Empty;
  width = 0;
  height = 0;
  indexed.Reset();
  gray16.Reset();
  quad.Reset();
  colour.Reset();
}

LoadResult DecodedImage::ExpandPalette() {
  if (pixelKind == PixelKind::Bgr24) return LoadResult::LoadOk;
  const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  PixelBuffer expanded;
  if (!expanded.Allocate(pixels * 3)) return LoadResult::OutOfMemory;
  const std::uint8_t* in = indexed.data();
  std::uint8_t* out = expanded.data();
  for (std::size_t i = 0; i < pixels; ++i) {
    const PaletteEntry& e = palette[in[i]];
    out[3 * i] = e.blue;
    out[3 * i + 1] = e.green;
    out[3 * i + 2] = e.red;
  }
  colour = std::move(expanded);
  indexed.Reset();
  pixelKind = PixelKind::Bgr24;
  return LoadResult::LoadOk;
}

std::unique_ptr<DecodedImage> DecodeImageFile(const std::string& path) {
  return DecodeImageFile(path, ProgramPluginSearchPath());
}

std::unique_ptr<DecodedImage> DecodeImageFile(const std::string& path, const PluginSearchPath& plugins) {
  auto image = std::make_unique<DecodedImage>();
  if (image->LoadImageFile(path, plugins) != LoadResult::LoadOk) image.reset();
  return image;
}

LoadResult DecodedImage::LoadImageFile(const std::string& path) {
  return LoadImageFile(path, ProgramPluginSearchPath());
}

LoadResult DecodedImage::LoadImageFile(const std::string& path, const PluginSearchPath& plugins) {
  std::string file = path;
  if (!file.empty() && file.front() == '"') {
    // A quoted path: drop the first and the last character.
    file = file.size() >= 2 ? file.substr(1, file.size() - 2) : std::string();
  }
  if (pixelKind != PixelKind::Empty) ReleasePixels();
  if (file.size() < 3) return LoadResult::Unsupported;

  const std::string key = LowerAscii(std::string_view(file).substr(file.size() - 3));
  if (key == "bmp") return ReadBmp(*this, file);
  if (key == "tif") return ReadTiff(*this, file);
  if (key == "jpg") return ReadJpeg(*this, file);
  if (key == "gif" || key == "png") return ReadPluginImage(*this, file, key, plugins);
  return LoadResult::Unsupported;
}

const std::uint8_t* DecodedImage::Pixels() const {
  switch (pixelKind) {
    case PixelKind::Indexed8: return indexed.data();
    case PixelKind::Gray16: return gray16.data();
    case PixelKind::Quad32: return quad.data();
    case PixelKind::Bgr24: return colour.data();
    case PixelKind::Empty: break;
  }
  return nullptr;
}

std::size_t DecodedImage::PixelBytes() const {
  switch (pixelKind) {
    case PixelKind::Indexed8: return indexed.size();
    case PixelKind::Gray16: return gray16.size();
    case PixelKind::Quad32: return quad.size();
    case PixelKind::Bgr24: return colour.size();
    case PixelKind::Empty: break;
  }
  return 0;
}

}  // namespace norvane
