// Reader for GIF and PNG files through image-reader plug-in libraries
// (see image/PluginContract.h for the interface a plug-in exports).
#pragma once

#include <string>
#include <vector>

#include "image/DecodedImage.h"

namespace norvane {

// Where plug-in libraries are looked for: each directory in order (as
// directory + "/" + file name), then, with `systemSearch`, the bare file name
// through the dynamic loader's own search (LD_LIBRARY_PATH, ld.so.cache, the
// system library folders).
struct PluginSearchPath {
  std::vector<std::string> directories;
  bool systemSearch = true;
};

// The executable's own directory, then <exe dir>/../lib/norvane, then the
// system search. The second entry finds the plug-ins both in the build tree
// (programs in bin/, plug-ins in lib/norvane/) and in an installed tree.
PluginSearchPath DefaultPluginSearchPath();

// DefaultPluginSearchPath() worked out once, on first use, and never changed
// afterwards: what DetectPlugins() and ReadPluginImage() use without an
// explicit search path (and so LoadImageFile). Being read-only, it is safe to
// use from any thread; callers that want other plug-ins pass their own path.
const PluginSearchPath& ProgramPluginSearchPath();

// What the start-up probe decided about the GIF and PNG reader plug-ins:
// where they are looked for and which can be loaded. Decided once, before any
// thread starts, and handed to everything that scans or decodes for a search;
// the folder scan collects .gif and .png files only when the flag is set.
struct PluginFlags {
  bool gifAvailable = false;
  bool pngAvailable = false;
  PluginSearchPath searchPath;
};

// A loaded plug-in library, released when the object goes away.
class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(PluginLibrary&& other) noexcept;
  PluginLibrary& operator=(PluginLibrary&& other) noexcept;
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads `fileName` from the first place of `search` that has a loadable
  // library of that name; an empty object when none has.
  static PluginLibrary Open(const std::string& fileName, const PluginSearchPath& search);

  explicit operator bool() const { return handle_ != nullptr; }
  // The address of an exported symbol, or null.
  void* Symbol(const char* name) const;

 private:
  void* handle_ = nullptr;
};

// Probes the plug-in libraries: gifAvailable when "ifgif.spi" or "ifgif2.spi"
// can be loaded, pngAvailable when "ifpng.spi" can; searchPath is the path
// probed. Every library is released again at once.
PluginFlags DetectPlugins();
PluginFlags DetectPlugins(const PluginSearchPath& search);

// Decodes a GIF ("gif") or PNG ("png") file through its plug-in library into
// `image`, which is Empty on entry; delivers Bgr24. The library is loaded for
// this one file and released before returning, together with everything the
// plug-in handed over, on every path. The plug-in is given the file mapped
// read-only into memory, never a copy, so a large file takes no memory of
// its own.
//
// Results:
//   Unsupported  unknown type key, no library loadable, no GetPicture entry,
//                a depth other than 1, 4, 8 or 24 bits per pixel, a negative
//                height (rows stored top-down), more than kMaxPixels pixels
//   CannotOpen   the file cannot be opened or is not a regular file
//   OutOfMemory  the file cannot be mapped or the picture cannot be held in
//                memory
//   ReadError    the file could not be mapped; the plug-in reported
//                failure; or it handed over blocks smaller than its header
//                promises (a missing block, an info block without the full
//                colour table, fewer stored rows than the height)
//   BadFormat    a negative width
// The image stays Empty on every failure.
LoadResult ReadPluginImage(DecodedImage& image, const std::string& path, const std::string& typeKey);
LoadResult ReadPluginImage(DecodedImage& image, const std::string& path, const std::string& typeKey,
                           const PluginSearchPath& search);

}  // namespace norvane
