#include "support/TestPictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/TempDir.h"

namespace norvane::test {

static std::uint8_t Byte(int v) { return static_cast<std::uint8_t>(v); }

std::vector<std::uint8_t> Pattern(int width, int height, int seed) {
  std::vector<std::uint8_t> bgr;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bgr.insert(bgr.end(), {Byte((x * 37 + y * 11) * seed + 60 * seed), Byte((x * 5 + y * 53) ^ (seed * 91)),
                             Byte(x * y * 7 + seed * 120)});
    }
  }
  return bgr;
}

std::vector<std::uint8_t> RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

DecodedImage MakeImage(int width, int height, PixelKind kind, const std::vector<std::uint8_t>& bytes) {
  DecodedImage image;
  EXPECT_EQ(image.AllocatePixels(width, height, kind), LoadResult::LoadOk);
  EXPECT_EQ(bytes.size(), image.PixelBytes());
  if (!bytes.empty() && bytes.size() == image.PixelBytes()) {
    std::copy(bytes.begin(), bytes.end(), const_cast<std::uint8_t*>(image.Pixels()));
  }
  return image;
}

LoadResult LoadBytes(DecodedImage& image, const std::vector<std::uint8_t>& bytes, const std::string& name) {
  static const TempDir dir;  // one folder for the whole program: loops load thousands of files
  WriteFile(dir.File(name), bytes);
  return image.LoadImageFile(dir.File(name));
}

std::vector<std::uint8_t> PixelsOf(const DecodedImage& image) {
  return std::vector<std::uint8_t>(image.Pixels(), image.Pixels() + image.PixelBytes());
}

std::vector<std::uint8_t> DistinctColours(std::initializer_list<int> indices) {
  std::vector<std::uint8_t> out;
  for (int i : indices) out.insert(out.end(), {Byte(i), Byte(255 - i), Byte(i ^ 0x5A)});
  return out;
}

std::vector<std::uint8_t> DistinctTable(int entries) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < entries; ++i) out.insert(out.end(), {Byte(i), Byte(255 - i), Byte(i ^ 0x5A), 0});
  return out;
}

std::vector<std::string> NamesOf(const FileList& list) {
  std::vector<std::string> names;
  for (const FileRecord& r : list) names.push_back(r.name);
  return names;
}

}  // namespace norvane::test
