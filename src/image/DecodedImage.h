// A decoded picture in memory and the operations every reader shares.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace norvane {

struct PluginSearchPath;  // image/PluginReader.h

// Result of a load. The numbers are part of the interface (1 and 6 are unused).
enum class LoadResult : int {
  LoadOk = 0,
  BadPixelKind = 2,
  OutOfMemory = 3,
  CannotOpen = 4,
  ReadError = 5,
  BadFormat = 7,
  Unsupported = 8,
};

// Which buffer of a DecodedImage holds the pixels.
enum class PixelKind : std::uint32_t {
  Empty = 0,
  Indexed8 = 1,  // one palette index per pixel
  Gray16 = 2,    // one 16-bit grey sample per pixel, low byte first
  Quad32 = 3,    // four bytes per pixel
  Bgr24 = 4,     // blue, green, red
};

// Bytes per pixel of a kind; 0 for Empty and for values outside the enum.
int BytesPerPixel(PixelKind kind);

// Largest picture any reader accepts, in pixels. Decoding a bigger one would
// need gigabytes for one image; a hostile header must not be able to ask for it.
#ifdef NORVANE_MAX_PIXELS
inline constexpr std::int64_t kMaxPixels = NORVANE_MAX_PIXELS;
#else
inline constexpr std::int64_t kMaxPixels = std::int64_t{1} << 30;  // 1 gigapixel
#endif

// Checks dimensions read from a file before anything is allocated: negative
// values are malformed (BadFormat), pictures above kMaxPixels are refused as
// Unsupported. Returns LoadOk when the picture may be allocated.
LoadResult CheckDimensions(std::int64_t width, std::int64_t height);

struct PaletteEntry {
  std::uint8_t blue = 0;
  std::uint8_t green = 0;
  std::uint8_t red = 0;
  std::uint8_t reserved = 0;
};

// An owned, zero-filled byte block. Empty (null) until allocated.
class PixelBuffer {
 public:
  // Allocates `bytes` zero bytes, dropping any previous block. Returns false
  // when the memory is not available; the buffer is then empty.
  bool Allocate(std::size_t bytes);
  void Reset();

  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  struct FreeDeleter {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t, FreeDeleter> data_;
  std::size_t size_ = 0;
};

// An uncompressed raster. Rows run top to bottom, each left to right, without
// padding: the stride is width * BytesPerPixel(pixelKind). Exactly one buffer,
// the one of pixelKind, is present after a successful load. A width or height
// of 0 is a valid, empty picture.
class DecodedImage {
 public:
  DecodedImage() = default;
  DecodedImage(const DecodedImage&) = delete;
  DecodedImage& operator=(const DecodedImage&) = delete;
  DecodedImage(DecodedImage&&) = default;
  DecodedImage& operator=(DecodedImage&&) = default;
  virtual ~DecodedImage() = default;

  // Allocates the zero-filled buffer of `kind` for width x height pixels and
  // sets the kind and the dimensions; Indexed8 also gets the grey ramp. The
  // image must be Empty. Returns BadPixelKind for a kind outside 1..4 and
  // OutOfMemory when the memory is not available or the dimensions are
  // negative or above kMaxPixels.
  LoadResult AllocatePixels(std::int32_t width, std::int32_t height, PixelKind kind);

  // Palette entry i becomes (i, i, i, 0).
  void SetGrayPalette();

  // Back to Empty: kind and dimensions 0, every buffer freed.
  void ReleasePixels();

  // Turns an Indexed8 image into Bgr24 through its palette; a Bgr24 image is
  // left alone. Returns OutOfMemory (image unchanged) when the colour buffer
  // cannot be allocated.
  LoadResult ExpandPalette();

  // Releases what the image holds and decodes the file at `path` with the
  // reader chosen by the path's last three characters, lower-cased: "bmp",
  // "tif", "jpg", "gif", "png". A path in double quotes is unquoted first.
  // Anything else (including paths shorter than three characters) gives
  // Unsupported. GIF and PNG files go through the plug-ins found on
  // `plugins`, by default the program's own search path.
  LoadResult LoadImageFile(const std::string& path);
  LoadResult LoadImageFile(const std::string& path, const PluginSearchPath& plugins);

  // The buffer of the current kind, or null for Empty.
  const std::uint8_t* Pixels() const;
  // Size in bytes of the buffer of the current kind (0 for Empty).
  std::size_t PixelBytes() const;

  PixelKind pixelKind = PixelKind::Empty;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::array<PaletteEntry, 256> palette{};
  PixelBuffer indexed;  // Indexed8
  PixelBuffer gray16;   // Gray16
  PixelBuffer quad;     // Quad32
  PixelBuffer colour;   // Bgr24
};

// The file at `path` decoded into a new image (LoadImageFile), or null when
// it cannot be decoded.
std::unique_ptr<DecodedImage> DecodeImageFile(const std::string& path);
std::unique_ptr<DecodedImage> DecodeImageFile(const std::string& path, const PluginSearchPath& plugins);

}  // namespace norvane
