// The two blocks every plug-in hands over: the information header with its
// colour table, and the bottom-up, 4-byte padded rows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace norvane::plugin {

// Largest picture a plug-in decodes, in pixels; the program refuses larger
// ones anyway, so decoding them would only waste memory.
#ifdef NORVANE_MAX_PIXELS
inline constexpr std::int64_t kMaxPixels = NORVANE_MAX_PIXELS;
#else
inline constexpr std::int64_t kMaxPixels = std::int64_t{1} << 30;
#endif

// Status values GetPicture returns; 0 is success.
enum Status : int {
  kOk = 0,
  kBadArguments = 1,   // null pointers, a negative length or an unknown flag
  kNotThisFormat = 2,  // wrong signature
  kCorrupt = 3,        // malformed or truncated data
  kTooLarge = 4,       // no pixels, or more than kMaxPixels
  kNoMemory = 5,
};

// A picture under construction. Both blocks are malloc blocks owned by this
// object until Release() hands them over.
class OutputPicture {
 public:
  OutputPicture() = default;
  ~OutputPicture();
  OutputPicture(const OutputPicture&) = delete;
  OutputPicture& operator=(const OutputPicture&) = delete;

  // Allocates both blocks for width x height pixels of 8 bits (with a
  // 256-entry colour table, all entries black) or 24 bits. Rows and padding
  // start as zero bytes. Returns kOk, kTooLarge or kNoMemory.
  int Allocate(std::int64_t width, std::int64_t height, int bitsPerPixel);

  // Colour-table entry `index` (0..255) of an 8-bit picture.
  void SetColour(int index, std::uint8_t red, std::uint8_t green, std::uint8_t blue);

  // Start of the stored row holding picture row `y`, counted from the top:
  // stored rows run bottom-up.
  std::uint8_t* Row(std::int64_t y) { return bits_ + (height_ - 1 - y) * rowLength_; }
  std::int64_t rowLength() const { return rowLength_; }

  // Hands both blocks over; the object is empty afterwards.
  void Release(void** info, void** bits);

 private:
  std::uint8_t* info_ = nullptr;
  std::uint8_t* bits_ = nullptr;
  std::int64_t height_ = 0;
  std::int64_t rowLength_ = 0;
};

// Fills `picture` from the whole file in `data`; returns a Status.
using DecodeFunction = int (*)(const char* data, long length, OutputPicture& picture);

// The body every plug-in's GetPicture shares: checks the arguments, clears
// both outputs, decodes, and hands the two blocks over only on success.
int DeliverPicture(const char* buf, long len, unsigned int flag, void** info, void** bits,
                   DecodeFunction decode);

}  // namespace norvane::plugin
