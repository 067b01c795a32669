#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/CpuFeatures.h"
#include "image/DecodedImage.h"
#include "signature/GridKernel.h"
#include "signature/PixelDigest.h"
#include "signature/SignatureExtractor.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::MakeImage;
using test::RandomBytes;

// A plain rendering of the cell statistics, one cell at a time, written
// independently of the library's loops and tables.
SignatureGrid ReferenceColourGrid(const Bytes& bgr, int width, int height) {
  SignatureGrid grid;
  const int cw = width / 4;
  const int ch = height / 4;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      double sy = 0, scb = 0, scr = 0, syy = 0, scbcb = 0, scrcr = 0;
      for (int y = r * ch; y < (r + 1) * ch; ++y) {
        for (int x = c * cw; x < (c + 1) * cw; ++x) {
          const std::uint8_t* p = &bgr[(static_cast<std::size_t>(y) * width + x) * 3];
          const double B = p[0], G = p[1], R = p[2];
          const double Y = G * 0.587 + R * 0.299 + B * 0.114;
          const double Cb = (B - Y) * 0.564;
          const double Cr = (R - Y) * 0.713;
          sy += Y;
          scb += Cb;
          scr += Cr;
          syy += Y * Y;
          scbcb += Cb * Cb;
          scrcr += Cr * Cr;
        }
      }
      const double n = static_cast<double>(cw) * ch;
      auto sdev = [n](double squares, double mean) {
        double v = squares / n - mean * mean;
        return std::sqrt(v < 0 || std::isnan(v) ? 0.0 : v);
      };
      SignatureCell& cell = grid[r * 4 + c];
      cell.meanY = sy / n;
      cell.meanCb = scb / n;
      cell.meanCr = scr / n;
      cell.sdevY = sdev(syy, cell.meanY);
      cell.sdevCb = sdev(scbcb, cell.meanCb);
      cell.sdevCr = sdev(scrcr, cell.meanCr);
    }
  }
  return grid;
}

// Bit-for-bit comparison: NaN equals NaN of the same bits, 0 differs from -0.
::testing::AssertionResult SameBits(const SignatureGrid& a, const SignatureGrid& b) {
  for (int i = 0; i < kGridCells; ++i) {
    if (std::memcmp(&a[i], &b[i], sizeof a[i]) != 0) return ::testing::AssertionFailure() << "cell " << i;
  }
  return ::testing::AssertionSuccess();
}

SignatureGrid Marked() {
  SignatureGrid grid;
  for (auto& cell : grid) cell = {1.5, 2.5, 3.5, 4.5, 5.5, 6.5};
  return grid;
}

std::string WholeBufferDigest(const DecodedImage& image) {
  char out[kDigestTextLength + 1];
  PixelDigester().HexDigest(image.Pixels(), image.PixelBytes(), out);
  return out;
}

TEST(SignatureExtractor, ColourGridIsBitExactAgainstPlainFormula) {
  // Sizes around the multiples of 4, pictures taller than one digest chunk,
  // and a wide one whose rows exceed a chunk.
  const int sizes[][2] = {{4, 4}, {5, 7}, {13, 11}, {3, 64}, {300, 400}, {25000, 9}};
  unsigned seed = 1;
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    const Bytes bytes = RandomBytes(static_cast<std::size_t>(w) * h * 3, seed++);
    const DecodedImage image = MakeImage(w, h, PixelKind::Bgr24, bytes);
    FileRecord record;
    ASSERT_EQ(SignatureExtractor().Extract(record, image), 0);
    EXPECT_TRUE(SameBits(record.grid, ReferenceColourGrid(bytes, w, h))) << w << " x " << h;
    EXPECT_EQ(record.digest, WholeBufferDigest(image)) << w << " x " << h;
    SignatureGrid alone;
    ASSERT_EQ(ComputeSignatureGrid(image, alone), 0);
    EXPECT_TRUE(SameBits(alone, record.grid));
  }
}

TEST(SignatureExtractor, RowKernelsAgreeBitForBit) {
  // The vector kernel must give exactly the sums of the portable one, also
  // for colours that stress the rounding (all 0, all 255, alternating).
  for (std::int64_t cellWidth : {0, 1, 2, 3, 7, 64, 333}) {
    const std::size_t rowBytes = static_cast<std::size_t>(cellWidth) * 12 + 9;  // 3 pixels outside
    Bytes row = RandomBytes(rowBytes, static_cast<unsigned>(cellWidth));
    for (std::size_t i = 0; i < row.size() / 4; ++i) row[i] = (i % 2) ? 255 : 0;
    grid::BandSums portable, vector;
    for (int pass = 0; pass < 3; ++pass) {
      grid::AccumulateBgrRowPortable(row.data(), cellWidth, portable);
      if (CpuHasAvx2()) {
        grid::AccumulateBgrRowAvx2(row.data(), cellWidth, vector);
      } else {
        grid::AccumulateBgrRowPortable(row.data(), cellWidth, vector);
      }
    }
    EXPECT_EQ(std::memcmp(&portable, &vector, sizeof portable), 0) << "cell width " << cellWidth;
  }
}

TEST(SignatureExtractor, SixteenBitGreyUsesTheHighByte) {
  const Bytes levels = RandomBytes(12 * 8, 3);
  const Bytes noise = RandomBytes(12 * 8, 4);
  Bytes samples;
  for (std::size_t i = 0; i < levels.size(); ++i) samples.insert(samples.end(), {noise[i], levels[i]});
  FileRecord wide, narrow;
  ASSERT_EQ(SignatureExtractor().Extract(wide, MakeImage(12, 8, PixelKind::Gray16, samples)), 0);
  ASSERT_EQ(SignatureExtractor().Extract(narrow, MakeImage(12, 8, PixelKind::Indexed8, levels)), 0);
  EXPECT_TRUE(SameBits(wide.grid, narrow.grid));
  EXPECT_NE(wide.digest, narrow.digest);
}

TEST(SignatureExtractor, RefusedPicturesLeaveTheGrid) {
  // Width 0: nothing at all is written.
  FileRecord record;
  record.digest = "untouched";
  record.grid = Marked();
  DecodedImage empty;
  EXPECT_EQ(SignatureExtractor().Extract(record, empty), -1);
  EXPECT_EQ(SignatureExtractor().Extract(record, MakeImage(0, 5, PixelKind::Bgr24, {})), -1);
  EXPECT_EQ(record.digest, "untouched");
  EXPECT_TRUE(SameBits(record.grid, Marked()));

  // Quad32: the digest is written, the grid is not.
  const Bytes quad = RandomBytes(8 * 8 * 4, 11);
  const DecodedImage quadImage = MakeImage(8, 8, PixelKind::Quad32, quad);
  EXPECT_EQ(SignatureExtractor().Extract(record, quadImage), -1);
  EXPECT_EQ(record.digest, WholeBufferDigest(quadImage));
  EXPECT_TRUE(SameBits(record.grid, Marked()));

  // A buffer smaller than the dimensions claim is never read.
  DecodedImage lying = MakeImage(8, 8, PixelKind::Bgr24, RandomBytes(8 * 8 * 3, 12));
  lying.width = 9;
  EXPECT_EQ(SignatureExtractor().Extract(record, lying), -1);
  EXPECT_EQ(record.digest, "");
  EXPECT_TRUE(SameBits(record.grid, Marked()));
}

TEST(SignatureExtractor, PicturesSmallerThanTheGridHaveEmptyCells) {
  for (const auto& size : {std::pair{3, 9}, std::pair{9, 3}, std::pair{5, 0}}) {
    const Bytes bytes = RandomBytes(static_cast<std::size_t>(size.first) * size.second * 3, 13);
    FileRecord record;
    const DecodedImage image = MakeImage(size.first, size.second, PixelKind::Bgr24, bytes);
    ASSERT_EQ(SignatureExtractor().Extract(record, image), 0);
    EXPECT_EQ(record.digest, WholeBufferDigest(image));
    for (const SignatureCell& cell : record.grid) {
      EXPECT_TRUE(std::isnan(cell.meanY) && std::isnan(cell.meanCb) && std::isnan(cell.meanCr));
      EXPECT_EQ(cell.sdevY, 0.0);
      EXPECT_EQ(cell.sdevCb, 0.0);
      EXPECT_EQ(cell.sdevCr, 0.0);
    }
  }
  EXPECT_EQ(WholeBufferDigest(MakeImage(5, 0, PixelKind::Bgr24, {})), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
}  // namespace norvane
