#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "signature/PixelDigest.h"
#include "signature/SignatureExtractor.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using test::MakeImage;
using test::RandomBytes;
using Bytes = std::vector<std::uint8_t>;

// A plain rendering of the cell statistics, one cell at a time, written
// independently of the library's loops and tables.
SignatureGrid ReferenceColourGrid(const Bytes& bgr, int width, int height) {
  SignatureGrid grid;
  const int cw = width / 4, ch = height / 4;
  const double n = static_cast<double>(cw) * ch;
  for (int cell = 0; cell < 16; ++cell) {
    double sum[3] = {}, squares[3] = {};
    for (int y = cell / 4 * ch; y < (cell / 4 + 1) * ch; ++y) {
      for (int x = cell % 4 * cw; x < (cell % 4 + 1) * cw; ++x) {
        const std::uint8_t* p = &bgr[(static_cast<std::size_t>(y) * width + x) * 3];
        const double Y = p[1] * 0.587 + p[2] * 0.299 + p[0] * 0.114;
        const double v[3] = {Y, (p[0] - Y) * 0.564, (p[2] - Y) * 0.713};
        for (int i = 0; i < 3; ++i) sum[i] += v[i], squares[i] += v[i] * v[i];
      }
    }
    double mean[3], sdev[3];
    for (int i = 0; i < 3; ++i) {
      mean[i] = sum[i] / n;
      const double variance = squares[i] / n - mean[i] * mean[i];
      sdev[i] = std::sqrt(variance < 0 || std::isnan(variance) ? 0.0 : variance);
    }
    grid[cell] = {mean[0], mean[1], mean[2], sdev[0], sdev[1], sdev[2]};
  }
  return grid;
}

// Bit-for-bit comparison: NaN equals NaN of the same bits, 0 differs from -0.
bool SameBits(const SignatureGrid& a, const SignatureGrid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string Md5(const std::uint8_t* data, std::size_t length) {
  char out[kDigestTextLength + 1];
  EXPECT_EQ(PixelDigester().HexDigest(data, length, out), 0);
  return out;
}
std::string Md5(const std::string& text) { return Md5(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()); }
std::string Md5(const DecodedImage& image) { return Md5(image.Pixels(), image.PixelBytes()); }

TEST(SignatureExtractor, ColourGridIsBitExactAgainstPlainFormula) {
  // Sizes around the multiples of 4, pictures smaller than the grid (empty
  // cells: NaN means, zero deviations), taller than one digest chunk, and a
  // wide one whose rows exceed a chunk. With AVX2 the rows go through the
  // vector kernel, which must give exactly the sums of the plain formula.
  const int sizes[][2] = {{4, 4}, {5, 7}, {13, 11}, {3, 64}, {9, 3}, {5, 0}, {300, 400}, {25000, 9}};
  unsigned seed = 1;
  for (const auto& [w, h] : sizes) {
    const Bytes bytes = RandomBytes(static_cast<std::size_t>(w) * h * 3, seed++);
    const DecodedImage image = MakeImage(w, h, PixelKind::Bgr24, bytes);
    FileRecord record;
    ASSERT_EQ(SignatureExtractor().Extract(record, image), 0);
    EXPECT_TRUE(SameBits(record.grid, ReferenceColourGrid(bytes, w, h))) << w << " x " << h;
    EXPECT_EQ(record.digest, Md5(image)) << w << " x " << h;
    SignatureGrid alone;
    ASSERT_EQ(ComputeSignatureGrid(image, alone), 0);
    EXPECT_TRUE(SameBits(alone, record.grid));
  }
}

TEST(SignatureExtractor, GreyUsesTheHighByteAndTheDigestCoversTheWholeBuffer) {
  const Bytes levels = RandomBytes(12 * 8, 3), noise = RandomBytes(12 * 8, 4);
  Bytes samples;
  for (std::size_t i = 0; i < levels.size(); ++i) samples.insert(samples.end(), {noise[i], levels[i]});
  FileRecord wide, narrow;
  ASSERT_EQ(SignatureExtractor().Extract(wide, MakeImage(12, 8, PixelKind::Gray16, samples)), 0);
  ASSERT_EQ(SignatureExtractor().Extract(narrow, MakeImage(12, 8, PixelKind::Indexed8, levels)), 0);
  EXPECT_TRUE(SameBits(wide.grid, narrow.grid));
  EXPECT_EQ(wide.digest, Md5(samples.data(), samples.size()));
  EXPECT_EQ(narrow.digest, Md5(levels.data(), levels.size()));

  // Values published with the MD5 algorithm.
  EXPECT_EQ(Md5(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  // Every kind hashes width x height x bytes per pixel, and nothing of the
  // dimensions: 2 x 2 colour, 3 x 2 16-bit grey and 3 x 1 four-byte pixels agree.
  const Bytes twelve = RandomBytes(12, 5);
  for (const auto& [w, h, kind] : {std::tuple{2, 2, PixelKind::Bgr24}, std::tuple{3, 2, PixelKind::Gray16},
                                  std::tuple{3, 1, PixelKind::Quad32}, std::tuple{4, 3, PixelKind::Indexed8}}) {
    FileRecord record;
    SignatureExtractor::Extract(record, MakeImage(w, h, kind, twelve));
    EXPECT_EQ(record.digest, Md5(twelve.data(), twelve.size()));
    EXPECT_TRUE(IsDigestText(record.digest));
  }
}

TEST(SignatureExtractor, RefusedPicturesLeaveTheGrid) {
  SignatureGrid marked;
  for (auto& cell : marked) cell = {1.5, 2.5, 3.5, 4.5, 5.5, 6.5};
  FileRecord record;
  record.digest = "untouched";
  record.grid = marked;
  // Width 0: nothing at all is written.
  EXPECT_EQ(SignatureExtractor().Extract(record, DecodedImage{}), -1);
  EXPECT_EQ(SignatureExtractor().Extract(record, MakeImage(0, 5, PixelKind::Bgr24, {})), -1);
  EXPECT_EQ(record.digest, "untouched");
  // Four-byte pixels: the digest is written, the grid is not.
  const DecodedImage quad = MakeImage(8, 8, PixelKind::Quad32, RandomBytes(8 * 8 * 4, 11));
  EXPECT_EQ(SignatureExtractor().Extract(record, quad), -1);
  EXPECT_EQ(record.digest, Md5(quad));
  // A buffer smaller than the dimensions claim is never read.
  DecodedImage lying = MakeImage(8, 8, PixelKind::Bgr24, RandomBytes(8 * 8 * 3, 12));
  lying.width = 9;
  EXPECT_EQ(SignatureExtractor().Extract(record, lying), -1);
  EXPECT_EQ(record.digest, "");
  EXPECT_TRUE(SameBits(record.grid, marked));
}

}  // namespace
}  // namespace norvane
