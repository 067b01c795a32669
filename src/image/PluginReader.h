#pragma once

#include <string>

#include "image/DecodedImage.h"

namespace norvane {

// Whether the GIF and PNG reader plug-ins can be loaded. Decided once at
// start-up; the folder scan collects .gif and .png files only when set.
struct PluginFlags {
  bool gifAvailable = false;
  bool pngAvailable = false;
};

// Probes the plug-in libraries.
PluginFlags DetectPlugins();

// Decodes a GIF ("gif") or PNG ("png") file through its plug-in library.
LoadResult ReadPluginImage(DecodedImage& image, const std::string& path, const std::string& typeKey);

}  // namespace norvane
