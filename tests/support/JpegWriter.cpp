#include "support/JpegWriter.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace norvane::test {
namespace {

struct WriterError {
  jpeg_error_mgr pub;  // first: the library only knows this part
  std::jmp_buf recovery;
};

[[noreturn]] void WriterErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  std::longjmp(reinterpret_cast<WriterError*>(cinfo->err)->recovery, 1);
}

struct CompressJob {
  int width;
  int height;
  int components;
  const std::uint8_t* pixels;
  JpegOptions options;
  unsigned char* output;  // malloc'ed by the library's memory destination
  unsigned long outputSize;
};

// Holds only plain C data, since a library error longjmps back into it.
// Returns false when the library reported an error; the arguments are checked
// beforehand, so that only happens for a fault in this writer. The memory
// destination's block is then left alone: after it has grown, the pointer the
// library handed out is already freed.
bool Compress(CompressJob& job) {
  WriterError err;
  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = WriterErrorExit;
  if (setjmp(err.recovery) != 0) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  jpeg_mem_dest(&cinfo, &buffer, &job.outputSize);

  cinfo.image_width = static_cast<JDIMENSION>(job.width);
  cinfo.image_height = static_cast<JDIMENSION>(job.height);
  cinfo.input_components = job.components;
  const bool raw = job.options.storage == JpegStorage::Raw;
  cinfo.in_color_space = raw                    ? JCS_UNKNOWN
                         : job.components == 1 ? JCS_GRAYSCALE
                         : job.components == 3 ? JCS_RGB
                                               : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  if (job.options.storage == JpegStorage::Ycck) jpeg_set_colorspace(&cinfo, JCS_YCCK);
  jpeg_set_quality(&cinfo, job.options.quality, TRUE);
  if (job.options.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  const std::size_t stride = static_cast<std::size_t>(job.width) * static_cast<std::size_t>(job.components);
  while (cinfo.next_scanline < cinfo.image_height) {
    // The compressor only reads the input rows.
    JSAMPROW row = const_cast<JSAMPROW>(job.pixels + cinfo.next_scanline * stride);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  job.output = buffer;
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

Bytes MakeJpeg(int width, int height, int components, const std::vector<std::uint8_t>& pixelsTopDown,
               int quality) {
  JpegOptions options;
  options.quality = quality;
  return MakeJpeg(width, height, components, pixelsTopDown, options);
}

Bytes MakeJpeg(int width, int height, int components, const std::vector<std::uint8_t>& pixelsTopDown,
               const JpegOptions& options) {
  const bool raw = options.storage == JpegStorage::Raw;
  const bool componentsFit = raw ? components >= 1 && components <= MAX_COMPONENTS
                                 : components == 1 || components == 3 || components == 4;
  if (!componentsFit || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION ||
      (options.storage == JpegStorage::Ycck && components != 4) ||
      pixelsTopDown.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                                  static_cast<std::size_t>(components)) {
    ADD_FAILURE() << "MakeJpeg: arguments do not describe a picture";
    return {};
  }
  CompressJob job{width, height, components, pixelsTopDown.data(), options, nullptr, 0};
  if (!Compress(job)) {
    ADD_FAILURE() << "MakeJpeg: the compressor failed";
    return {};
  }
  Bytes bytes(job.output, job.output + job.outputSize);
  std::free(job.output);
  return bytes;
}

std::vector<std::uint8_t> FlatPixels(int width, int height, const std::vector<std::uint8_t>& pixel) {
  std::vector<std::uint8_t> pixels;
  const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  pixels.reserve(count * pixel.size());
  for (std::size_t i = 0; i < count; ++i) pixels.insert(pixels.end(), pixel.begin(), pixel.end());
  return pixels;
}

}  // namespace norvane::test
