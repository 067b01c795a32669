// Synthetic pictures for tests.
#pragma once

#include "image/DecodedImage.h"
#include "scan/FileRecord.h"

namespace norvane::test {

// A busy BGR pattern of width x height pixels, top row first: different
// seeds give unrelated pictures.
std::vector<std::uint8_t> Pattern(int width, int height, int seed);

// `count` bytes of a fixed pseudo-random sequence chosen by `seed`.
std::vector<std::uint8_t> RandomBytes(std::size_t count, unsigned seed);

// A decoded picture of `kind` whose pixel buffer holds exactly `bytes`;
// fails the current test when they do not fit.
DecodedImage MakeImage(int width, int height, PixelKind kind, const std::vector<std::uint8_t>& bytes);

// Writes `bytes` as a file called `name` in the test program's temporary
// folder (replacing any earlier one) and loads it the way the program does,
// by the name's extension.
LoadResult LoadBytes(DecodedImage& image, const std::vector<std::uint8_t>& bytes, const std::string& name);

// The picture's pixel buffer, whatever its kind.
std::vector<std::uint8_t> PixelsOf(const DecodedImage& image);

// Colours that show a wrong lookup or channel order: entry i is blue i,
// green 255 - i, red i ^ 0x5A. DistinctColours gives the entries of
// `indices` as pixels (three bytes each), DistinctTable the first `entries`
// as a colour table of a BMP file or plug-in result (four bytes each).
std::vector<std::uint8_t> DistinctColours(std::initializer_list<int> indices);
std::vector<std::uint8_t> DistinctTable(int entries);

// The names of the records, in list order.
std::vector<std::string> NamesOf(const FileList& list);

}  // namespace norvane::test
