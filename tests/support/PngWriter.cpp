#include "support/PngWriter.h"

#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>

namespace norvane::test {
namespace {

void WriteToBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void Flush(png_structp) {}

int ChannelsOf(PngColour colour) {
  switch (colour) {
    case PngColour::Gray:
    case PngColour::Palette: return 1;
    case PngColour::GrayAlpha: return 2;
    case PngColour::Rgb: return 3;
    case PngColour::Rgba: return 4;
  }
  return 0;
}

// Only plain C objects live in this function: libpng leaves it with longjmp.
bool Write(const PngPicture& picture, const std::vector<png_bytep>& rows, const std::vector<png_color>& palette,
           const png_color_16& key, Bytes& out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &out, WriteToBytes, Flush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height), picture.bitDepth,
               static_cast<int>(picture.colour), picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!picture.paletteAlpha.empty()) {
    png_set_tRNS(png, info, picture.paletteAlpha.data(), static_cast<int>(picture.paletteAlpha.size()), nullptr);
  } else if (picture.transparentColour) {
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_write_info(png, info);
  if (picture.interlaced) png_set_interlace_handling(png);
  png_write_image(png, const_cast<png_bytepp>(rows.data()));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

Bytes MakePng(const PngPicture& picture) {
  const std::size_t rowBytes =
      (static_cast<std::size_t>(picture.width) * ChannelsOf(picture.colour) * picture.bitDepth + 7) / 8;
  if (picture.rows.size() != rowBytes * static_cast<std::size_t>(picture.height)) {
    ADD_FAILURE() << "MakePng: " << picture.rows.size() << " bytes of rows, expected " << rowBytes * picture.height;
    return {};
  }
  Bytes copy = picture.rows;  // libpng wants writable row pointers
  std::vector<png_bytep> rows(static_cast<std::size_t>(picture.height));
  for (int y = 0; y < picture.height; ++y) rows[y] = copy.data() + y * rowBytes;
  std::vector<png_color> palette;
  for (const auto& c : picture.palette) palette.push_back(png_color{c[0], c[1], c[2]});
  png_color_16 key{};
  if (picture.transparentColour) {
    key.gray = (*picture.transparentColour)[0];
    key.red = (*picture.transparentColour)[0];
    key.green = (*picture.transparentColour)[1];
    key.blue = (*picture.transparentColour)[2];
  }
  Bytes out;
  if (!Write(picture, rows, palette, key, out)) {
    ADD_FAILURE() << "libpng could not write the PNG";
    return {};
  }
  return out;
}

Bytes MakePngRgb(int width, int height, const std::vector<std::uint8_t>& rgbTopDown, bool interlaced) {
  PngPicture picture;
  picture.width = width;
  picture.height = height;
  picture.colour = PngColour::Rgb;
  picture.interlaced = interlaced;
  picture.rows = rgbTopDown;
  return MakePng(picture);
}

}  // namespace norvane::test
