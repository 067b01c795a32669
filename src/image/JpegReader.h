#pragma once

#include <string>

#include "image/DecodedImage.h"

namespace norvane {

// Decodes the JPEG file at `path` into `image`, which is Empty on entry.
LoadResult ReadJpeg(DecodedImage& image, const std::string& path);

}  // namespace norvane
