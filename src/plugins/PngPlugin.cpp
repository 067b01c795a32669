// "ifpng.spi": PNG files through libpng.
//
// Every colour type and bit depth is delivered as 24 bits per pixel: grey is
// widened to three channels, palettes are expanded, 16-bit samples keep their
// high byte, interlaced files are assembled whole, and alpha (an alpha channel
// or a tRNS chunk) is composited over white. Gamma and colour-space chunks are
// ignored: the samples are delivered as stored.
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/PluginContract.h"
#include "plugins/PluginOutput.h"

namespace norvane::plugin {
namespace {

// Everything a decode holds. libpng reports errors with longjmp, which skips
// destructors, so the decoding function keeps only these plain pointers and
// the caller releases whatever they hold, whichever way the decode ended.
struct PngJob {
  const png_byte* data = nullptr;
  std::size_t size = 0;
  std::size_t position = 0;
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_bytep* rowPointers = nullptr;
  png_bytep alphaRows = nullptr;  // four-channel rows, when the picture has alpha
  OutputPicture* picture = nullptr;
};

void ReleaseJob(PngJob& job) {
  if (job.png != nullptr) png_destroy_read_struct(&job.png, job.info != nullptr ? &job.info : nullptr, nullptr);
  std::free(job.rowPointers);
  std::free(job.alphaRows);
  job.rowPointers = nullptr;
  job.alphaRows = nullptr;
}

// libpng's input function. Asking for more than is left is a truncated file.
void ReadFromMemory(png_structp png, png_bytep out, png_size_t wanted) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  if (wanted > job->size - job->position) png_error(png, "unexpected end of file");
  std::memcpy(out, job->data + job->position, wanted);
  job->position += wanted;
}

// Errors end the decode silently: a file that cannot be read is a result code
// for the program, not a message on the console.
[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

// White shows through where the picture is transparent:
// out = (c * a + 255 * (255 - a)) / 255, rounded.
std::uint8_t OverWhite(std::uint8_t c, std::uint8_t a) {
  return static_cast<std::uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

int Decode(PngJob* job) {
  if (job->size < 8 || png_sig_cmp(job->data, 0, 8) != 0) return kNotThisFormat;
  job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (job->png == nullptr) return kNoMemory;
  job->info = png_create_info_struct(job->png);
  if (job->info == nullptr) return kNoMemory;
  if (setjmp(png_jmpbuf(job->png))) return kCorrupt;

  png_set_read_fn(job->png, job, ReadFromMemory);
  png_read_info(job->png, job->info);
  const std::int64_t width = png_get_image_width(job->png, job->info);
  const std::int64_t height = png_get_image_height(job->png, job->info);
  if (width <= 0 || height <= 0 || width * height > kMaxPixels) return kTooLarge;

  png_set_expand(job->png);  // palette to RGB, low-depth grey to 8 bits, tRNS to alpha
  png_set_strip_16(job->png);
  png_set_gray_to_rgb(job->png);
  png_set_bgr(job->png);
  png_set_interlace_handling(job->png);
  png_read_update_info(job->png, job->info);
  const int channels = png_get_channels(job->png, job->info);
  if ((channels != 3 && channels != 4) || png_get_bit_depth(job->png, job->info) != 8 ||
      png_get_rowbytes(job->png, job->info) != static_cast<png_size_t>(channels * width)) {
    return kCorrupt;
  }

  OutputPicture& picture = *job->picture;
  const int status = picture.Allocate(width, height, 24);
  if (status != kOk) return status;
  job->rowPointers = static_cast<png_bytep*>(std::malloc(static_cast<std::size_t>(height) * sizeof(png_bytep)));
  if (job->rowPointers == nullptr) return kNoMemory;
  if (channels == 3) {
    // Without alpha libpng writes straight into the stored rows.
    for (std::int64_t y = 0; y < height; ++y) job->rowPointers[y] = picture.Row(y);
  } else {
    // The whole picture is held first: an interlaced file fills every row
    // several times before its pixels are final.
    job->alphaRows = static_cast<png_bytep>(std::malloc(static_cast<std::size_t>(4 * width * height)));
    if (job->alphaRows == nullptr) return kNoMemory;
    for (std::int64_t y = 0; y < height; ++y) job->rowPointers[y] = job->alphaRows + y * 4 * width;
  }
  png_read_image(job->png, job->rowPointers);

  if (channels == 4) {
    for (std::int64_t y = 0; y < height; ++y) {
      const png_byte* in = job->rowPointers[y];
      std::uint8_t* out = picture.Row(y);
      for (std::int64_t x = 0; x < width; ++x, in += 4, out += 3) {
        out[0] = OverWhite(in[0], in[3]);
        out[1] = OverWhite(in[1], in[3]);
        out[2] = OverWhite(in[2], in[3]);
      }
    }
  }
  return kOk;
}

int DecodeBuffer(const char* data, long length, OutputPicture& picture) {
  PngJob job;
  job.data = reinterpret_cast<const png_byte*>(data);
  job.size = static_cast<std::size_t>(length);
  job.picture = &picture;
  const int status = Decode(&job);
  ReleaseJob(job);
  return status;
}

}  // namespace
}  // namespace norvane::plugin

extern "C" __attribute__((visibility("default"))) int GetPicture(const char* buf, long len, unsigned int flag,
                                                                 void** info, void** bits, PluginProgress,
                                                                 long) {
  return norvane::plugin::DeliverPicture(buf, len, flag, info, bits, norvane::plugin::DecodeBuffer);
}
