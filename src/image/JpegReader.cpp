#include "image/JpegReader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "image/ImageFile.h"

namespace norvane {

void ConvertCmykRow(const std::uint8_t* cmyk, std::uint8_t* bgr, std::size_t pixels) {
  for (std::size_t i = 0; i < pixels; ++i, cmyk += 4, bgr += 3) {
    // The samples are stored inverted, so 255 - sample is the amount of ink.
    const double c = (255 - cmyk[0]) / 255.0;
    const double m = (255 - cmyk[1]) / 255.0;
    const double y = (255 - cmyk[2]) / 255.0;
    const double k = (255 - cmyk[3]) / 255.0;
    const double r = 1.0 - std::min(1.0, c * (1.0 - k) + k);
    const double g = 1.0 - std::min(1.0, m * (1.0 - k) + k);
    const double b = 1.0 - std::min(1.0, y * (1.0 - k) + k);
    // The values lie in [0, 1]; the conversion to an integer cuts toward zero.
    bgr[0] = static_cast<std::uint8_t>(static_cast<int>(b * 255.0));
    bgr[1] = static_cast<std::uint8_t>(static_cast<int>(g * 255.0));
    bgr[2] = static_cast<std::uint8_t>(static_cast<int>(r * 255.0));
  }
}

namespace {

// Real progressive files have around ten scans. Every scan walks the whole
// picture, so a small hostile file made of thousands of empty scans would keep
// the decoder busy for minutes; beyond this count the file is refused.
constexpr int kMaxScans = 500;

// The library's error manager extended with the point to jump back to. The
// library only knows the first member, so it must stay first.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf recovery;
};

// Replaces the library's error_exit, which would end the process: print the
// library's own text to standard error, then unwind to ReadJpeg.
[[noreturn]] void JumpToRecovery(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->recovery, 1);
}

// Everything one decode holds. Only plain C data lives here, because an error
// inside the library longjmps over every frame between it and ReadJpeg; no
// destructor may be skipped that way. The buffers are assigned after setjmp
// and read after a longjmp, hence volatile.
struct JpegSession {
  ErrorManager err;
  jpeg_progress_mgr progress;
  jpeg_decompress_struct cinfo;
  std::FILE* file;
  std::uint8_t* volatile scanline;   // one decoded row as the library delivers it
  std::uint8_t* volatile converted;  // one Bgr24 row converted from CMYK
};

// Called by the library while it reads the input; ends the decode like a
// library error once the file has had too many scans.
void LimitScans(j_common_ptr common) {
  const auto* cinfo = reinterpret_cast<const jpeg_decompress_struct*>(common);
  if (cinfo->input_scan_number > kMaxScans) {
    std::fprintf(stderr, "JPEG file has more than %d scans\n", kMaxScans);
    std::longjmp(reinterpret_cast<ErrorManager*>(common->err)->recovery, 1);
  }
}

// Frees whatever the session holds. Destroying a decompressor that was never
// created is safe: the session starts zeroed and the library then has no
// memory to release.
void ReleaseSession(JpegSession& s) {
  jpeg_destroy_decompress(&s.cinfo);
  if (s.file != nullptr) std::fclose(s.file);
  s.file = nullptr;
  std::free(s.scanline);
  s.scanline = nullptr;
  std::free(s.converted);
  s.converted = nullptr;
}

// Reads every row (or, for an unhandled layout, none) into `image`. Library
// errors leave this function through a longjmp, so it holds no objects with
// destructors either.
LoadResult DecodeRows(JpegSession& s, DecodedImage& image) {
  jpeg_decompress_struct* cinfo = &s.cinfo;
  s.progress.progress_monitor = LimitScans;
  cinfo->progress = &s.progress;
  jpeg_stdio_src(cinfo, s.file);
  jpeg_read_header(cinfo, TRUE);

  // With the default settings the output has the header's size. Checking it
  // before decompression starts matters: for a progressive file the library
  // allocates coefficient memory for the whole picture in the start call.
  LoadResult check = CheckDimensions(cinfo->image_width, cinfo->image_height);
  if (check != LoadResult::LoadOk) return check;

#ifdef JCS_EXTENSIONS
  // Colour comes out in the picture's own byte order, blue first, so rows
  // are decoded straight into the picture instead of being reordered after.
  // The library computes the same values either way; only the order differs.
  if (cinfo->out_color_space == JCS_RGB) cinfo->out_color_space = JCS_EXT_BGR;
#endif
  jpeg_start_decompress(cinfo);

  check = CheckDimensions(cinfo->output_width, cinfo->output_height);
  if (check != LoadResult::LoadOk) return check;
  const auto width = static_cast<std::int32_t>(cinfo->output_width);
  const auto height = static_cast<std::int32_t>(cinfo->output_height);
  const int components = cinfo->output_components;
  const PixelKind kind = components == 1 ? PixelKind::Indexed8 : PixelKind::Bgr24;
  if (image.AllocatePixels(width, height, kind) != LoadResult::LoadOk) return LoadResult::OutOfMemory;

  const auto columns = static_cast<std::size_t>(width);
  s.scanline = static_cast<std::uint8_t*>(std::malloc(columns * static_cast<std::size_t>(components) + 1));
  if (s.scanline == nullptr) return LoadResult::OutOfMemory;
  const bool grey = components == 1;
#ifdef JCS_EXTENSIONS
  const bool bgr = components == 3 && cinfo->out_color_space == JCS_EXT_BGR;
#else
  const bool bgr = false;
#endif
  const bool direct = grey || bgr;  // rows land in the picture as decoded
  const bool rgb = components == 3 && cinfo->out_color_space == JCS_RGB;
  const bool cmyk = components == 4 && cinfo->out_color_space == JCS_CMYK;
  if (cmyk) {
    s.converted = static_cast<std::uint8_t*>(std::malloc(columns * 3 + 1));
    if (s.converted == nullptr) return LoadResult::OutOfMemory;
  }

  if (direct || rgb || cmyk) {
    std::uint8_t* const scanline = s.scanline;
    std::uint8_t* const converted = s.converted;
    std::uint8_t* const pixels = grey ? image.indexed.data() : image.colour.data();
    const std::size_t stride = columns * (grey ? 1 : 3);
    JSAMPROW row = scanline;
    while (cinfo->output_scanline < cinfo->output_height) {
      const JDIMENSION y = cinfo->output_scanline;
      if (y >= static_cast<JDIMENSION>(height)) break;
      std::uint8_t* __restrict out = pixels + static_cast<std::size_t>(y) * stride;
      // The stdio source never suspends, but a call that yields no row must
      // not spin: leaving the loop lets the finish call report the shortfall.
      JSAMPROW target = direct ? out : row;
      if (jpeg_read_scanlines(cinfo, &target, 1) != 1) break;
      if (direct) continue;
      if (rgb) {
        // Red, green, blue becomes blue, green, red, copied in the same pass.
        const std::uint8_t* __restrict in = scanline;
        for (std::size_t x = 0; x < columns; ++x, in += 3, out += 3) {
          out[0] = in[2];
          out[1] = in[1];
          out[2] = in[0];
        }
      } else {
        ConvertCmykRow(scanline, converted, columns);
        std::memcpy(out, converted, stride);
      }
    }
  }
  // With rows left unread (an unhandled layout) this raises the library's
  // error, which ends in BadFormat.
  jpeg_finish_decompress(cinfo);
  return LoadResult::LoadOk;
}

// Opens the file and hands it over as a plain FILE*, so that the function
// holding the recovery point owns nothing with a destructor; the session
// closes it on every exit.
LoadResult OpenPlainFile(const std::string& path, std::FILE*& out) {
  UniqueFile file;
  std::int64_t size = 0;
  const LoadResult r = OpenImageFile(path, file, size);
  out = file.release();
  return r;
}

}  // namespace

LoadResult ReadJpeg(DecodedImage& image, const std::string& path) {
  if (image.pixelKind != PixelKind::Empty) image.ReleasePixels();

  JpegSession s;
  std::memset(&s, 0, sizeof s);
  if (const LoadResult r = OpenPlainFile(path, s.file); r != LoadResult::LoadOk) return r;

  s.cinfo.err = jpeg_std_error(&s.err.pub);
  s.err.pub.error_exit = JumpToRecovery;
  if (setjmp(s.err.recovery) != 0) {
    ReleaseSession(s);
    return LoadResult::BadFormat;
  }
  jpeg_CreateDecompress(&s.cinfo, JPEG_LIB_VERSION, sizeof(jpeg_decompress_struct));
  const LoadResult result = DecodeRows(s, image);
  ReleaseSession(s);
  return result;
}

}  // namespace norvane
