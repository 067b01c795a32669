// The image writers of BmpWriter.h, GifWriter.h, JpegWriter.h, PngWriter.h and
// TiffWriter.h. Their arguments are checked first, so an error inside libjpeg
// or libpng means a fault in the writer, and the library's own handler ends
// the program; giflib's errors fail the current test.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <jpeglib.h>

#include "support/BmpWriter.h"
#include "support/GifWriter.h"
#include "support/JpegWriter.h"
#include "support/PngWriter.h"
#include "support/TiffWriter.h"

namespace norvane::test {

// Fails the current test for arguments that describe no picture.
static Bytes Refuse(const char* writer) {
  ADD_FAILURE() << writer << ": the arguments do not describe a picture the library can write";
  return {};
}

Bytes MakeBmp(const BmpFields& f) {
  const auto pixelStart = static_cast<std::uint32_t>(14 + 40 + f.colourTable.size() + f.gap.size());
  Bytes out;
  PutU16(out, f.magic);
  PutU32(out, f.fileSize.value_or(pixelStart + static_cast<std::uint32_t>(f.pixels.size())));
  for (std::uint32_t v : {0u, f.dataOffset.value_or(pixelStart), f.headerSize}) PutU32(out, v);
  for (std::int32_t v : {f.width, f.height}) PutI32(out, v);
  for (std::uint16_t v : {f.planes, f.bitsPerPixel}) PutU16(out, v);
  // 2835 pixels per metre (72 dpi) in both directions.
  for (std::uint32_t v : {f.compression, f.imageSize, 2835u, 2835u, f.coloursUsed, f.importantColours}) PutU32(out, v);
  for (const Bytes* part : {&f.colourTable, &f.gap, &f.pixels}) PutBytes(out, *part);
  return out;
}

std::size_t BmpRowLength(int width, int bitsPerPixel) {
  return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel) + 31) / 32 * 4;
}

Bytes BmpColourTable(const std::vector<std::array<std::uint8_t, 3>>& bgr) {
  Bytes out;
  for (const auto& e : bgr) PutBytes(out, {e[0], e[1], e[2], 0});
  return out;
}

Bytes MakeBmp24(int width, int height, const std::vector<std::uint8_t>& bgrTopDown) {
  if (width < 0 || height < 0 || bgrTopDown.size() != static_cast<std::size_t>(width) * height * 3) return Refuse("MakeBmp24");
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3, rowLength = BmpRowLength(width, 24);
  BmpFields f;
  f.width = width, f.height = height, f.pixels.assign(rowLength * height, 0);
  f.imageSize = static_cast<std::uint32_t>(f.pixels.size());
  for (int y = 0; y < height; ++y) {  // stored bottom row first
    std::copy_n(bgrTopDown.begin() + y * rowBytes, rowBytes, f.pixels.begin() + (height - 1 - y) * rowLength);
  }
  return MakeBmp(f);
}

Bytes MakeGif(const GifPicture& picture) {
  const auto mapOf = [](const std::vector<GifColour>& colours) {
    std::vector<GifColorType> entries(2, GifColorType{0, 0, 0});
    while (entries.size() < colours.size()) entries.resize(2 * entries.size(), GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < colours.size(); ++i) entries[i] = {colours[i].red, colours[i].green, colours[i].blue};
    return std::unique_ptr<ColorMapObject, void (*)(ColorMapObject*)>(
        colours.empty() ? nullptr : GifMakeMapObject(static_cast<int>(entries.size()), entries.data()), GifFreeMapObject);
  };
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, [](GifFileType* g, const GifByteType* data, int length) {
    static_cast<Bytes*>(g->UserData)->insert(static_cast<Bytes*>(g->UserData)->end(), data, data + length);
    return length;
  }, &error);
  EGifSetGifVersion(gif, true);
  const auto global = mapOf(picture.globalColours);
  bool ok = EGifPutScreenDesc(gif, picture.screenWidth, picture.screenHeight,
                              global ? GifBitSize(global->ColorCount) : 1, 0, global.get()) != GIF_ERROR;
  for (const GifFrame& frame : picture.frames) {
    ok = ok && frame.indices.size() == static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height);
    // giflib drops the previous frame's local map without freeing it.
    GifFreeMapObject(gif->Image.ColorMap);
    gif->Image.ColorMap = nullptr;
    ok = ok && EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced,
                                mapOf(frame.localColours).get()) != GIF_ERROR;
    // Interlaced rows go in four passes: every 8th from 0, every 8th from 4,
    // every 4th from 2, every 2nd from 1.
    const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < (frame.interlaced ? 4 : 1); ++pass) {
      for (int y = frame.interlaced ? start[pass] : 0; ok && y < frame.height; y += frame.interlaced ? step[pass] : 1) {
        std::vector<GifPixelType> line(frame.indices.begin() + y * frame.width, frame.indices.begin() + (y + 1) * frame.width);
        ok = EGifPutLine(gif, line.data(), frame.width) != GIF_ERROR;
      }
    }
  }
  return EGifCloseFile(gif, &error) == GIF_ERROR || !ok ? Refuse("MakeGif") : out;
}

Bytes MakeGif(int width, int height, const std::vector<GifColour>& colours,
              const std::vector<std::uint8_t>& indicesTopDown, bool interlaced) {
  return MakeGif(GifPicture{width, height, colours, {GifFrame{0, 0, width, height, indicesTopDown, {}, interlaced}}});
}

Bytes MakeJpeg(int width, int height, int components, const std::vector<std::uint8_t>& pixelsTopDown, int quality) {
  return MakeJpeg(width, height, components, pixelsTopDown, JpegOptions{quality});
}

Bytes MakeJpeg(int width, int height, int components, const std::vector<std::uint8_t>& pixelsTopDown,
               const JpegOptions& options) {
  const bool raw = options.storage == JpegStorage::Raw, ycck = options.storage == JpegStorage::Ycck;
  const bool componentsFit = raw ? components >= 1 && components <= MAX_COMPONENTS
                                 : components == 4 || (!ycck && (components == 1 || components == 3));
  if (!componentsFit || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION ||
      pixelsTopDown.size() != static_cast<std::size_t>(width) * height * components) {
    return Refuse("MakeJpeg");
  }
  jpeg_error_mgr err;
  jpeg_compress_struct cinfo;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* output = nullptr;  // malloc'ed by the library's memory destination
  unsigned long outputSize = 0;
  jpeg_mem_dest(&cinfo, &output, &outputSize);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = raw ? JCS_UNKNOWN : components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  if (ycck) jpeg_set_colorspace(&cinfo, JCS_YCCK);
  jpeg_set_quality(&cinfo, options.quality, TRUE);
  if (options.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    // The compressor only reads the input rows.
    JSAMPROW row = const_cast<JSAMPROW>(pixelsTopDown.data() + cinfo.next_scanline * static_cast<std::size_t>(width * components));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(output, output + outputSize);
  std::free(output);
  return bytes;
}

std::vector<std::uint8_t> FlatPixels(int width, int height, const std::vector<std::uint8_t>& pixel) {
  std::vector<std::uint8_t> pixels;
  for (int i = 0; i < width * height; ++i) pixels.insert(pixels.end(), pixel.begin(), pixel.end());
  return pixels;
}

Bytes MakePng(const PngPicture& picture) {
  const int channels[] = {1, 0, 3, 1, 2, 0, 4};  // by colour type number
  const std::size_t rowBytes =
      (static_cast<std::size_t>(picture.width) * channels[static_cast<int>(picture.colour)] * picture.bitDepth + 7) / 8;
  if (picture.rows.size() != rowBytes * picture.height) return Refuse("MakePng");
  Bytes copy = picture.rows, out;  // libpng wants writable row pointers
  std::vector<png_bytep> rows;
  for (int y = 0; y < picture.height; ++y) rows.push_back(copy.data() + y * rowBytes);
  std::vector<png_color> palette;
  for (const auto& c : picture.palette) palette.push_back(png_color{c[0], c[1], c[2]});
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, [](png_structp p, png_bytep data, png_size_t length) {
    static_cast<Bytes*>(png_get_io_ptr(p))->insert(static_cast<Bytes*>(png_get_io_ptr(p))->end(), data, data + length);
  }, [](png_structp) {});
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height),
               picture.bitDepth, static_cast<int>(picture.colour), picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!picture.paletteAlpha.empty()) {
    png_set_tRNS(png, info, picture.paletteAlpha.data(), static_cast<int>(picture.paletteAlpha.size()), nullptr);
  } else if (const auto& t = picture.transparentColour) {
    const png_color_16 key{0, (*t)[0], (*t)[1], (*t)[2], (*t)[0]};  // index, red, green, blue, grey
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_write_info(png, info);
  if (picture.interlaced) png_set_interlace_handling(png);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

Bytes MakePngRgb(int width, int height, const std::vector<std::uint8_t>& rgbTopDown, bool interlaced) {
  return MakePng(PngPicture{width, height, PngColour::Rgb, 8, interlaced, rgbTopDown, {}, {}, {}});
}

std::uint32_t TiffBuilder::AddData(const Bytes& bytes) {
  const auto offset = static_cast<std::uint32_t>(8 + data_.size());
  PutBytes(data_, bytes);
  return offset;
}

std::uint32_t TiffBuilder::AddLongs(const std::vector<std::uint32_t>& values) {
  Bytes bytes;
  for (std::uint32_t v : values) PutU32(bytes, v);
  return AddData(bytes);
}

TiffBuilder& TiffBuilder::Set(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
  const auto same = [tag](const TiffEntry& e) { return e.tag == tag; };
  if (std::none_of(entries_.begin(), entries_.end(), same)) entries_.push_back(TiffEntry{tag, type, count, value});
  std::replace_if(entries_.begin(), entries_.end(), same, TiffEntry{tag, type, count, value});
  return *this;
}

TiffBuilder& TiffBuilder::MoveToFront(std::uint16_t tag) {
  std::stable_partition(entries_.begin(), entries_.end(), [tag](const TiffEntry& e) { return e.tag == tag; });
  return *this;
}

Bytes TiffBuilder::Build() const {
  // The directory starts on a word boundary.
  Bytes out = {order[0], order[1], 42, 0};
  PutU32(out, static_cast<std::uint32_t>(8 + data_.size() + data_.size() % 2));
  PutBytes(out, data_);
  if (data_.size() % 2 != 0) out.push_back(0);
  PutU16(out, static_cast<std::uint16_t>(entries_.size()));
  for (const TiffEntry& e : entries_) {
    for (std::uint16_t v : {e.tag, e.type}) PutU16(out, v);
    for (std::uint32_t v : {e.count, e.value}) PutU32(out, v);
  }
  PutU32(out, nextDirectory);
  return out;
}

TiffBuilder GrayTiff(int width, int height, int bitsPerSample, const Bytes& samples) {
  const std::size_t sampleBytes = bitsPerSample > 8 ? 2 : 1;
  if (width < 0 || height < 0 || samples.size() != static_cast<std::size_t>(width) * height * sampleBytes) Refuse("GrayTiff");
  TiffBuilder b;
  const std::uint32_t strip = b.AddData(samples);
  b.Set(kTagWidth, kTiffLong, 1, width).Set(kTagLength, kTiffLong, 1, height).Set(kTagBits, kTiffShort, 1, bitsPerSample);
  b.Set(kTagCompression, kTiffShort, 1, 1).Set(kTagPhotometric, kTiffShort, 1, 1).Set(kTagStripOffsets, kTiffLong, 1, strip);
  b.Set(kTagSamplesPerPixel, kTiffShort, 1, 1).Set(kTagRowsPerStrip, kTiffLong, 1, height);
  return b.Set(kTagStripByteCounts, kTiffLong, 1, static_cast<std::uint32_t>(samples.size()));
}

TiffBuilder RgbTiff(int width, int height, const Bytes& rgbTopDown, int rowsPerStrip, int samplesPerPixel) {
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  if (width < 0 || height < 0 || rowsPerStrip <= 0 || rgbTopDown.size() != rowBytes * height) return Refuse("RgbTiff"), TiffBuilder{};
  TiffBuilder b;
  const std::uint32_t bits = b.AddData({8, 0, 8, 0, 8, 0});
  std::vector<std::uint32_t> offsets, counts;
  for (int row = 0; row < height || (row == 0 && height == 0); row += rowsPerStrip) {
    const auto first = rgbTopDown.begin() + row * rowBytes;
    const Bytes strip(first, first + std::min(rowsPerStrip, height - row) * rowBytes);
    offsets.push_back(b.AddData(strip));
    counts.push_back(static_cast<std::uint32_t>(strip.size()));
  }
  const auto n = static_cast<std::uint32_t>(offsets.size());
  b.Set(kTagWidth, kTiffLong, 1, width).Set(kTagLength, kTiffLong, 1, height).Set(kTagBits, kTiffShort, 3, bits);
  b.Set(kTagCompression, kTiffShort, 1, 1).Set(kTagPhotometric, kTiffShort, 1, 2);
  b.Set(kTagStripOffsets, kTiffLong, n, n == 1 ? offsets[0] : b.AddLongs(offsets));
  b.Set(kTagSamplesPerPixel, kTiffShort, 1, samplesPerPixel).Set(kTagRowsPerStrip, kTiffLong, 1, rowsPerStrip);
  return b.Set(kTagStripByteCounts, kTiffLong, n, n == 1 ? counts[0] : b.AddLongs(counts));
}

}  // namespace norvane::test
