#include "signature/SignatureExtractor.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "signature/GridKernel.h"
#include "signature/PixelDigest.h"

namespace norvane {
namespace {

// Mean of the squares minus the square of the mean; rounding can push a
// uniform cell slightly below zero and an empty cell gives 0 / 0: both are
// taken as no spread at all.
double Deviation(double sumOfSquares, double mean, double n) {
  double variance = sumOfSquares / n - mean * mean;
  if (!(variance >= 0)) variance = 0;
  return std::sqrt(variance);
}

void FinishColourBand(const grid::BandSums& sums, double n, SignatureCell* cells) {
  for (int c = 0; c < kGridSide; ++c) {
    SignatureCell& cell = cells[c];
    cell.meanY = sums.y[c] / n;
    cell.meanCb = sums.cb[c] / n;
    cell.meanCr = sums.cr[c] / n;
    cell.sdevY = Deviation(sums.yy[c], cell.meanY, n);
    cell.sdevCb = Deviation(sums.cbcb[c], cell.meanCb, n);
    cell.sdevCr = Deviation(sums.crcr[c], cell.meanCr, n);
  }
}

struct Geometry {
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::int64_t cellWidth = 0;
  std::int64_t cellHeight = 0;
  double cellPixels = 0;  // n of every cell, possibly 0
};

Geometry GeometryOf(const DecodedImage& image) {
  Geometry g;
  g.width = image.width;
  g.height = image.height;
  g.cellWidth = g.width / kGridSide;
  g.cellHeight = g.height / kGridSide;
  g.cellPixels = static_cast<double>(g.cellWidth * g.cellHeight);
  return g;
}

// Grey pictures: one grey level per pixel, `bytesPerPixel` apart, the level
// at `levelOffset` within the pixel. Sums are doubles; the levels and their
// squares are whole numbers, so the sums are exact.
void GreyGrid(const std::uint8_t* pixels, const Geometry& g, int bytesPerPixel, int levelOffset,
              SignatureGrid& out) {
  const std::size_t stride = static_cast<std::size_t>(g.width) * bytesPerPixel;
  for (int r = 0; r < kGridSide; ++r) {
    for (int c = 0; c < kGridSide; ++c) {
      double sum = 0;
      double sumOfSquares = 0;
      for (std::int64_t y = r * g.cellHeight; y < (r + 1) * g.cellHeight; ++y) {
        const std::uint8_t* p = pixels + static_cast<std::size_t>(y) * stride +
                                static_cast<std::size_t>(c * g.cellWidth) * bytesPerPixel +
                                levelOffset;
        for (std::int64_t x = 0; x < g.cellWidth; ++x, p += bytesPerPixel) {
          const double v = *p;
          sum += v;
          sumOfSquares += v * v;
        }
      }
      SignatureCell& cell = out[r * kGridSide + c];
      cell.meanY = sum / g.cellPixels;
      cell.sdevY = Deviation(sumOfSquares, cell.meanY, g.cellPixels);
      cell.meanCb = 0;
      cell.meanCr = 0;
      cell.sdevCb = 0;
      cell.sdevCr = 0;
    }
  }
}

// Bgr24 pictures, row by row from the top.
void ColourGrid(const std::uint8_t* pixels, const Geometry& g, SignatureGrid& out) {
  const std::size_t stride = static_cast<std::size_t>(g.width) * 3;
  for (int band = 0; band < kGridSide; ++band) {
    grid::BandSums sums;
    for (std::int64_t y = band * g.cellHeight; y < (band + 1) * g.cellHeight; ++y) {
      grid::AccumulateBgrRow(pixels + static_cast<std::size_t>(y) * stride, g.cellWidth, sums);
    }
    FinishColourBand(sums, g.cellPixels, &out[band * kGridSide]);
  }
}

bool HasGrid(PixelKind kind) {
  return kind == PixelKind::Bgr24 || kind == PixelKind::Indexed8 || kind == PixelKind::Gray16;
}

void GridOf(const DecodedImage& image, const Geometry& g, SignatureGrid& out) {
  switch (image.pixelKind) {
    case PixelKind::Bgr24: ColourGrid(image.Pixels(), g, out); break;
    case PixelKind::Indexed8: GreyGrid(image.Pixels(), g, 1, 0, out); break;
    // Samples are stored low byte first: the high byte is the second one.
    case PixelKind::Gray16: GreyGrid(image.Pixels(), g, 2, 1, out); break;
    case PixelKind::Quad32:
    case PixelKind::Empty: break;
  }
}

}  // namespace

int ComputeSignatureGrid(const DecodedImage& image, SignatureGrid& grid) {
  if (image.width == 0 || !HasGrid(image.pixelKind) || DigestByteCount(image) < 0) return -1;
  SignatureGrid result;
  GridOf(image, GeometryOf(image), result);
  grid = result;
  return 0;
}

PreparedSignature PrepareSignature(const DecodedImage& image) {
  PreparedSignature prepared;
  if (image.width == 0) return prepared;
  prepared.writesDigest = true;
  prepared.digestBytes = DigestByteCount(image);
  if (prepared.digestBytes < 0 || !HasGrid(image.pixelKind)) return prepared;
  GridOf(image, GeometryOf(image), prepared.grid);
  prepared.writesGrid = true;
  prepared.result = 0;
  return prepared;
}

void ApplySignature(FileRecord& record, const PreparedSignature& prepared, const std::string& digest) {
  if (prepared.writesDigest) {
    if (prepared.digestBytes < 0) {
      record.digest.clear();
    } else {
      record.digest = digest;
    }
  }
  if (prepared.writesGrid) record.grid = prepared.grid;
}

int SignatureExtractor::Extract(FileRecord& record, const DecodedImage& image) {
  const PreparedSignature prepared = PrepareSignature(image);
  char digest[kDigestTextLength + 1] = "";
  if (prepared.writesDigest && prepared.digestBytes >= 0) {
    PixelDigester().HexDigest(image.Pixels(), static_cast<std::size_t>(prepared.digestBytes), digest);
  }
  ApplySignature(record, prepared, digest);
  return prepared.result;
}

}  // namespace norvane
