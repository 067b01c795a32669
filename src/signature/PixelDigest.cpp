#include "signature/PixelDigest.h"

#include <openssl/evp.h>

namespace norvane {
void DigestText(const std::uint8_t* md5, char (&out)[kDigestTextLength + 1]) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < kDigestTextLength / 2; ++i) {
    out[2 * i] = kHex[md5[i] >> 4];
    out[2 * i + 1] = kHex[md5[i] & 0x0f];
  }
  out[kDigestTextLength] = '\0';
}

int PixelDigester::HexDigest(const std::uint8_t* data, std::size_t length,
                             char (&out)[kDigestTextLength + 1]) const {
  out[0] = '\0';
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdLength = 0;
  // EVP_Digest wants a valid pointer even for zero bytes.
  static const std::uint8_t kNothing = 0;
  if (EVP_Digest(length == 0 ? &kNothing : data, length, md, &mdLength, EVP_md5(), nullptr) != 1 ||
      mdLength * 2 != kDigestTextLength) {
    return -1;
  }
  DigestText(md, out);
  return 0;
}

std::int64_t DigestByteCount(const DecodedImage& image) {
  const int bpp = BytesPerPixel(image.pixelKind);
  if (bpp == 0 || image.width < 0 || image.height < 0) return -1;
  const std::int64_t bytes = std::int64_t{image.width} * image.height * bpp;
  // Never read beyond what the buffer holds, whatever the fields claim.
  if (bytes > 0 && (image.Pixels() == nullptr ||
                    static_cast<std::uint64_t>(bytes) > image.PixelBytes())) {
    return -1;
  }
  return bytes;
}

}  // namespace norvane
