// Reader for a strict subset of TIFF: little-endian files holding one
// uncompressed image stored in strips, either grey (one sample of 1 to 16
// bits) or RGB (three 8-bit samples). The directory is parsed here; no TIFF
// library is involved.
#pragma once

#include <string>

#include "image/DecodedImage.h"

namespace norvane {

// Decodes the TIFF file at `path` into `image`, which is Empty on entry.
//
// Delivers Indexed8 with the grey ramp for 1 to 8 bits per sample (one stored
// byte per pixel, copied as is, never unpacked), Gray16 for 9 to 16 bits (two
// stored bytes per pixel, low byte first) and Bgr24 for three 8-bit samples.
// Results: CannotOpen when the file cannot be opened or is not a regular file;
// BadFormat for a wrong byte order or version, a malformed directory or strip
// layout, or negative dimensions; Unsupported for variants outside the subset
// (compression, photometric interpretation, sample layout, several images,
// pictures above kMaxPixels); ReadError when the file ends before the data its
// header, directory or strips promise; OutOfMemory when a buffer cannot be had.
LoadResult ReadTiff(DecodedImage& image, const std::string& path);

}  // namespace norvane
