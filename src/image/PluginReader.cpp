#include "image/PluginReader.h"

namespace norvane {

// No plug-in libraries are shipped yet: GIF and PNG are neither collected nor decoded.
PluginFlags DetectPlugins() { return PluginFlags{}; }

LoadResult ReadPluginImage(DecodedImage&, const std::string&, const std::string&) {
  return LoadResult::Unsupported;
}

}  // namespace norvane
