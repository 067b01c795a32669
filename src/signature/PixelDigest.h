// The pixel digest: MD5 of an image's decoded pixel bytes as 32 lower-case
// hexadecimal characters. Two files that decode to the same bytes get the same
// digest whatever their format, name or dimensions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/DecodedImage.h"

namespace norvane {

inline constexpr std::size_t kDigestTextLength = 32;

// Stateless: turns a byte sequence into its digest text.
class PixelDigester {
 public:
  // Writes the MD5 of `length` bytes at `data` into `out` as 32 hexadecimal
  // characters followed by a terminating zero. Returns 0; -1 (out empty, first
  // byte zero) only when the system's MD5 is unavailable.
  int HexDigest(const std::uint8_t* data, std::size_t length,
                char (&out)[kDigestTextLength + 1]) const;
};

// The 16 bytes of an MD5 digest at `md5` as 32 lower-case hexadecimal
// characters followed by a terminating zero.
void DigestText(const std::uint8_t* md5, char (&out)[kDigestTextLength + 1]);

// The number of pixel bytes the digest covers for the image's kind and
// dimensions: W x H for Indexed8 (the palette is not covered), W x H x 2 for
// Gray16, W x H x 4 for Quad32, W x H x 3 for Bgr24. -1 when the kind has no
// digest or the image does not hold that many bytes.
std::int64_t DigestByteCount(const DecodedImage& image);

}  // namespace norvane
