#include "signature/PixelDigest.h"

#include <openssl/evp.h>

namespace norvane {
namespace {

void ToHex(const unsigned char* bytes, unsigned int count, char* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (unsigned int i = 0; i < count; ++i) {
    out[2 * i] = kHex[bytes[i] >> 4];
    out[2 * i + 1] = kHex[bytes[i] & 0x0f];
  }
  out[2 * count] = '\0';
}

}  // namespace

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
  ToHex(md, mdLength, out);
  return 0;
}

void Md5Stream::CtxFree::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }

Md5Stream::Md5Stream() : ctx_(EVP_MD_CTX_new()) {
  ok_ = ctx_ != nullptr && EVP_DigestInit_ex(ctx_.get(), EVP_md5(), nullptr) == 1;
}

Md5Stream::~Md5Stream() = default;

void Md5Stream::Update(const std::uint8_t* data, std::size_t length) {
  if (!ok_ || length == 0) return;
  if (EVP_DigestUpdate(ctx_.get(), data, length) != 1) ok_ = false;
}

std::string Md5Stream::Finish() {
  if (!ok_) return {};
  ok_ = false;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdLength = 0;
  if (EVP_DigestFinal_ex(ctx_.get(), md, &mdLength) != 1 || mdLength * 2 != kDigestTextLength) {
    return {};
  }
  char text[kDigestTextLength + 1];
  ToHex(md, mdLength, text);
  return text;
}

bool IsDigestText(const std::string& text) {
  if (text.size() != kDigestTextLength) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
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

int ComputePixelDigest(FileRecord& record, const DecodedImage& image) {
  const std::int64_t bytes = DigestByteCount(image);
  if (bytes < 0) {
    record.digest.clear();
    return -1;
  }
  char text[kDigestTextLength + 1];
  PixelDigester digester;
  if (digester.HexDigest(image.Pixels(), static_cast<std::size_t>(bytes), text) != 0) {
    record.digest.clear();
    return -1;
  }
  record.digest = text;
  return 0;
}

}  // namespace norvane
