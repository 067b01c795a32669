#include "image/TiffReader.h"

namespace norvane {

LoadResult ReadTiff(DecodedImage&, const std::string&) { return LoadResult::Unsupported; }

}  // namespace norvane
