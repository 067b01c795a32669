#pragma once

#include <string>

#include "image/DecodedImage.h"

namespace norvane {

// Decodes the TIFF file at `path` into `image`, which is Empty on entry.
LoadResult ReadTiff(DecodedImage& image, const std::string& path);

}  // namespace norvane
