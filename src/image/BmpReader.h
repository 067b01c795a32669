#pragma once

#include <string>

#include "image/DecodedImage.h"

namespace norvane {

// Decodes the BMP file at `path` into `image`, which is Empty on entry.
LoadResult ReadBmp(DecodedImage& image, const std::string& path);

}  // namespace norvane
