// The pixel digests (one stream, and many at once in vector lanes) and the
// 4 x 4 grid of colour statistics that make up a picture's signature.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "signature/MultiMd5.h"
#include "signature/PixelDigest.h"
#include "signature/SignatureExtractor.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using namespace test;
using Bytes = std::vector<std::uint8_t>;

// OpenSSL's single-stream MD5: the reference for every vector backend.
std::string Md5(const std::uint8_t* data, std::size_t length) {
  char out[kDigestTextLength + 1];
  EXPECT_EQ(PixelDigester().HexDigest(data, length, out), 0);
  return out;
}

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
    EXPECT_TRUE(SameBits(record.grid.unpacked(), ReferenceColourGrid(bytes, w, h))) << w << " x " << h;
    EXPECT_EQ(record.digest, Md5(image.Pixels(), image.PixelBytes())) << w << " x " << h;
  }
}

TEST(SignatureExtractor, GreyUsesTheHighByteAndTheDigestCoversTheWholeBuffer) {
  const Bytes levels = RandomBytes(12 * 8, 3), noise = RandomBytes(12 * 8, 4);
  Bytes samples;
  for (std::size_t i = 0; i < levels.size(); ++i) samples.insert(samples.end(), {noise[i], levels[i]});
  FileRecord wide, narrow;
  ASSERT_EQ(SignatureExtractor().Extract(wide, MakeImage(12, 8, PixelKind::Gray16, samples)), 0);
  ASSERT_EQ(SignatureExtractor().Extract(narrow, MakeImage(12, 8, PixelKind::Indexed8, levels)), 0);
  EXPECT_TRUE(wide.grid == narrow.grid);
  EXPECT_EQ(wide.digest, Md5(samples.data(), samples.size()));
  // Values published with the MD5 algorithm.
  EXPECT_EQ(Md5(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5(reinterpret_cast<const std::uint8_t*>("message digest"), 14), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(narrow.digest, Md5(levels.data(), levels.size()));
}

TEST(SignatureExtractor, RefusedPicturesLeaveTheGrid) {
  FileRecord record;
  record.grid.Modify([](SignatureGrid& grid) {
    for (auto& cell : grid) cell = {1.5, 2.5, 3.5, 4.5, 5.5, 6.5};
  });
  const PackedGrid marked = record.grid;
  record.digest = "untouched";
  // Width 0: nothing at all is written.
  EXPECT_EQ(SignatureExtractor().Extract(record, MakeImage(0, 5, PixelKind::Bgr24, {})), -1);
  EXPECT_EQ(record.digest, "untouched");
  // Four-byte pixels: the digest is written, the grid is not.
  const DecodedImage quad = MakeImage(8, 8, PixelKind::Quad32, RandomBytes(8 * 8 * 4, 11));
  EXPECT_EQ(SignatureExtractor().Extract(record, quad), -1);
  EXPECT_EQ(record.digest, Md5(quad.Pixels(), quad.PixelBytes()));
  // A buffer smaller than the dimensions claim is never read.
  DecodedImage lying = MakeImage(8, 8, PixelKind::Bgr24, RandomBytes(8 * 8 * 3, 12));
  lying.width = 9;
  EXPECT_EQ(SignatureExtractor().Extract(record, lying), -1);
  EXPECT_EQ(record.digest, "");
  EXPECT_TRUE(record.grid == marked);
}

std::string Text(const Md5Digest& digest) {
  char text[kDigestTextLength + 1];
  Md5DigestText(digest, text);
  return text;
}

// Messages are slices of these bytes at odd offsets, so no lane sees an aligned pointer.
const std::vector<std::uint8_t> kPool = test::RandomBytes(1u << 20, 1321);

class MultiMd5Backends : public ::testing::TestWithParam<Md5Backend> {
  void SetUp() override {
    if (!Md5BackendAvailable(GetParam())) GTEST_SKIP() << "processor lacks " << Md5BackendName(GetParam());
  }
};

TEST_P(MultiMd5Backends, BatchMatchesTheReferenceAroundBlockBoundaries) {
  // The padding needs a second block once fewer than 9 bytes of the last
  // block are free. Empty messages may come without any bytes at all.
  std::vector<Md5Message> messages(3, Md5Message{nullptr, 0});
  for (std::size_t blocks = 1; blocks <= 40; ++blocks) {
    for (std::size_t delta : {9, 8, 7, 1, 0}) messages.push_back({kPool.data() + 7 * blocks, 64 * blocks - delta});
    messages.push_back({kPool.data() + 11 * blocks, 64 * blocks + 1});
  }
  std::vector<Md5Digest> digests(messages.size());
  Md5Many(messages.data(), messages.size(), digests.data(), GetParam());
  for (std::size_t i = 0; i < messages.size(); ++i) ASSERT_EQ(Text(digests[i]), Md5(messages[i].data, messages[i].length)) << i;
}

INSTANTIATE_TEST_SUITE_P(, MultiMd5Backends, ::testing::Values(Md5Backend::Scalar, Md5Backend::Avx2, Md5Backend::Avx512),
                         [](const ::testing::TestParamInfo<Md5Backend>& info) { return std::string(Md5BackendName(info.param)); });

}  // namespace
}  // namespace norvane
