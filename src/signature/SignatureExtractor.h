// Reduces a decoded image to its signature: the pixel digest plus the mean
// and standard deviation of luma (Y) and the two colour differences (Cb, Cr)
// in each cell of a 4 x 4 grid.
#pragma once

#include <cstdint>
#include <string>

#include "image/DecodedImage.h"
#include "scan/FileRecord.h"
#include "signature/Signature.h"

namespace norvane {

// Stateless. Extract may be called on an instance made on the stack for
// each image or directly on the class.
class SignatureExtractor {
 public:
  virtual ~SignatureExtractor() = default;

  // Writes record.digest and record.grid from `image`; no other field of the
  // record is touched. Returns 0 when the signature was written and -1 when
  // the width is 0 (the record is left exactly as it was).
  //
  // The grid divides the picture into cells of (W / 4) x (H / 4) pixels; the
  // W mod 4 rightmost columns and H mod 4 bottom rows belong to no cell (they
  // still count for the digest). A picture narrower or lower than 4 pixels has
  // empty cells: their means are 0 / 0 (not a number) and their deviations 0,
  // which the difference measure never takes as similar to anything.
  //
  // Bgr24 gives Y, Cb and Cr statistics; Indexed8 takes each byte as a grey
  // level and Gray16 the high byte of each 16-bit sample, both with Cb and Cr
  // statistics of exactly 0. Quad32 pictures carry no colour layout the grid
  // could rely on: their digest is written, the grid is left as it was and
  // the result is -1. An image whose buffer is smaller than its dimensions
  // claim gets an empty digest, an untouched grid and -1.
  static int Extract(FileRecord& record, const DecodedImage& image);
};

// The halves of Extract, for callers that hash the pixels of several images
// at once: PrepareSignature does everything but the digest and says which
// bytes the digest covers; ApplySignature then writes the record, given the
// digest text of those bytes. Extract is PrepareSignature, the digest of
// those bytes, then ApplySignature.
struct PreparedSignature {
  int result = -1;                // what Extract returns
  bool writesDigest = false;      // false: the record keeps its digest
  std::int64_t digestBytes = -1;  // bytes from image.Pixels() to hash; -1: empty digest
  bool writesGrid = false;        // false: the record keeps its grid
  SignatureGrid grid{};
};
PreparedSignature PrepareSignature(const DecodedImage& image);
// `digest` is the text of the digest of the first digestBytes pixel bytes
// (ignored when no digest is written or digestBytes is -1).
void ApplySignature(FileRecord& record, const PreparedSignature& prepared, const std::string& digest);

// The grid alone, as Extract computes it. Returns 0, or -1 (grid untouched)
// for a width of 0, a pixel kind without a grid or a buffer that is too small.
int ComputeSignatureGrid(const DecodedImage& image, SignatureGrid& grid);

}  // namespace norvane
