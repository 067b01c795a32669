#include "image/JpegReader.h"

namespace norvane {

LoadResult ReadJpeg(DecodedImage&, const std::string&) { return LoadResult::Unsupported; }

}  // namespace norvane
