// Reader for uncompressed Windows bitmap files.
#pragma once

#include <string>

#include "image/DecodedImage.h"

namespace norvane {

// Decodes the BMP file at `path` into `image`, which is Empty on entry.
//
// Accepts uncompressed files of 1, 4, 8, 16 (5-5-5), 24 and 32 bits per pixel
// stored bottom row first and always delivers Bgr24: palette files are read as
// Indexed8 with the file's colour table and then expanded. The information
// header is always taken as 40 bytes, the colour table is read at offset 54
// and the rows at the header's pixel data offset.
//
// Results: CannotOpen (cannot open, or not a regular file), ReadError (a header,
// the colour table or the rows end early), BadFormat (not "BM", negative
// width), Unsupported (compression, bits per pixel, top-down rows, more than
// kMaxPixels pixels), OutOfMemory. When only the final palette expansion runs
// out of memory the load still succeeds and the image stays Indexed8.
LoadResult ReadBmp(DecodedImage& image, const std::string& path);

}  // namespace norvane
