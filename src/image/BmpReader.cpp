#include "image/BmpReader.h"

namespace norvane {

LoadResult ReadBmp(DecodedImage&, const std::string&) { return LoadResult::Unsupported; }

}  // namespace norvane
