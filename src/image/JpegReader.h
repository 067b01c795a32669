// Reader for JPEG files, built on libjpeg's decompressor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/DecodedImage.h"

namespace norvane {

// Decodes the JPEG file at `path` into `image`, which is Empty on entry.
//
// The library decodes with its default settings: grey files come out as one
// component and become Indexed8 with the grey ramp; YCbCr and RGB files come
// out as RGB and become Bgr24; CMYK and YCCK files come out as CMYK and are
// turned into Bgr24 with ConvertCmykRow. Any other output (two components, an
// unknown colour space) is refused by leaving the rows unread, which makes the
// library report an error when decompression finishes.
//
// Results: CannotOpen (the file cannot be opened), BadFormat (any error the
// library reports: not a JPEG, corrupt data, an unsupported process, an
// unhandled component layout; its message goes to standard error),
// Unsupported (more than kMaxPixels pixels), OutOfMemory.
LoadResult ReadJpeg(DecodedImage& image, const std::string& path);

// Converts `pixels` CMYK pixels, four samples each as the decoder delivers
// them (inverted: 255 means no ink), into blue, green, red bytes. Double
// precision, truncated toward zero, so results are the same on every build.
void ConvertCmykRow(const std::uint8_t* cmyk, std::uint8_t* bgr, std::size_t pixels);

}  // namespace norvane
