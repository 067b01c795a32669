#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "image/DecodedImage.h"
#include "signature/PixelDigest.h"
#include "signature/SignatureExtractor.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

using test::MakeImage;

std::string Hex(const std::string& text) {
  char out[kDigestTextLength + 1];
  EXPECT_EQ(PixelDigester().HexDigest(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), out), 0);
  return out;
}

TEST(PixelDigester, MatchesPublishedMd5Values) {
  // Test values published with the MD5 algorithm.
  EXPECT_EQ(Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST(PixelDigest, CoversExactlyTheBufferOfTheKind) {
  std::vector<std::uint8_t> six = {1, 2, 3, 200, 250, 128};
  FileRecord a, b, c;
  // Width and height are not part of the digest: 2 x 3 and 3 x 2 agree.
  SignatureExtractor::Extract(a, MakeImage(2, 3, PixelKind::Indexed8, six));
  SignatureExtractor::Extract(b, MakeImage(3, 2, PixelKind::Indexed8, six));
  EXPECT_EQ(a.digest, b.digest);
  EXPECT_EQ(a.digest, Hex(std::string(six.begin(), six.end())));
  EXPECT_TRUE(IsDigestText(a.digest));

  // Every kind hashes W x H x bytes per pixel.
  std::vector<std::uint8_t> twelve(12);
  for (std::size_t i = 0; i < twelve.size(); ++i) twelve[i] = static_cast<std::uint8_t>(i * 37);
  const std::string all(twelve.begin(), twelve.end());
  for (const auto& [w, h, kind] : {std::tuple{2, 2, PixelKind::Bgr24}, std::tuple{3, 2, PixelKind::Gray16},
                                  std::tuple{3, 1, PixelKind::Quad32}}) {
    c.digest.clear();
    SignatureExtractor::Extract(c, MakeImage(w, h, kind, twelve));
    EXPECT_EQ(c.digest, Hex(all));
  }
}

}  // namespace
}  // namespace norvane
