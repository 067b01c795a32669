// The pixel digest: MD5 of an image's decoded pixel bytes as 32 lower-case
// hexadecimal characters. Two files that decode to the same bytes get the same
// digest whatever their format, name or dimensions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "image/DecodedImage.h"
#include "scan/FileRecord.h"

struct evp_md_ctx_st;

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

// MD5 fed in pieces, for callers that want to work on the same bytes while
// they are still in the cache. The result equals one HexDigest over the
// concatenation of all pieces.
class Md5Stream {
 public:
  Md5Stream();
  ~Md5Stream();
  Md5Stream(const Md5Stream&) = delete;
  Md5Stream& operator=(const Md5Stream&) = delete;

  // False when the system's MD5 could not be set up.
  bool ok() const { return ok_; }
  void Update(const std::uint8_t* data, std::size_t length);
  // The digest text of everything fed so far, or an empty text on failure.
  // The stream is finished afterwards.
  std::string Finish();

 private:
  struct CtxFree {
    void operator()(evp_md_ctx_st* ctx) const;
  };
  std::unique_ptr<evp_md_ctx_st, CtxFree> ctx_;
  bool ok_ = false;
};

// True for a text of exactly 32 characters from 0-9 and a-f.
bool IsDigestText(const std::string& text);

// Stores the digest of the image's pixel buffer in record.digest: W x H bytes
// for Indexed8 (the palette is not covered), W x H x 2 for Gray16, W x H x 4
// for Quad32, W x H x 3 for Bgr24. Returns 0; -1 with an empty digest for an
// Empty image or a kind outside these.
int ComputePixelDigest(FileRecord& record, const DecodedImage& image);

// The number of pixel bytes the digest covers for the image's kind and
// dimensions, or -1 when the kind has no digest or the image does not hold
// that many bytes.
std::int64_t DigestByteCount(const DecodedImage& image);

}  // namespace norvane
