#include "support/GifWriter.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <memory>

namespace norvane::test {
namespace {

int WriteToBytes(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + length);
  return length;
}

struct MapDeleter {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using ColourMap = std::unique_ptr<ColorMapObject, MapDeleter>;

ColourMap MakeMap(const std::vector<GifColour>& colours) {
  if (colours.empty()) return nullptr;
  int size = 2;
  while (size < static_cast<int>(colours.size())) size *= 2;
  std::vector<GifColorType> entries(static_cast<std::size_t>(size), GifColorType{0, 0, 0});
  for (std::size_t i = 0; i < colours.size(); ++i) entries[i] = {colours[i].red, colours[i].green, colours[i].blue};
  return ColourMap(GifMakeMapObject(size, entries.data()));
}

int MapBits(const ColourMap& map) { return map ? GifBitSize(map->ColorCount) : 1; }

}  // namespace

Bytes MakeGif(const GifPicture& picture) {
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteToBytes, &error);
  if (gif == nullptr) {
    ADD_FAILURE() << "EGifOpen failed: " << error;
    return {};
  }
  EGifSetGifVersion(gif, true);
  const ColourMap global = MakeMap(picture.globalColours);
  bool ok = EGifPutScreenDesc(gif, picture.screenWidth, picture.screenHeight, MapBits(global), 0, global.get()) != GIF_ERROR;
  for (const GifFrame& frame : picture.frames) {
    if (!ok) break;
    const ColourMap local = MakeMap(frame.localColours);
    // giflib drops the previous frame's local map without freeing it when
    // the next frame has none: free it here.
    if (gif->Image.ColorMap != nullptr) {
      GifFreeMapObject(gif->Image.ColorMap);
      gif->Image.ColorMap = nullptr;
    }
    ok = EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced, local.get()) !=
         GIF_ERROR;
    std::vector<int> order;
    if (frame.interlaced) {
      const int start[] = {0, 4, 2, 1};
      const int step[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass) {
        for (int y = start[pass]; y < frame.height; y += step[pass]) order.push_back(y);
      }
    } else {
      for (int y = 0; y < frame.height; ++y) order.push_back(y);
    }
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.width));
    for (int y : order) {
      if (!ok) break;
      for (int x = 0; x < frame.width; ++x) line[x] = frame.indices.at(static_cast<std::size_t>(y * frame.width + x));
      ok = EGifPutLine(gif, line.data(), frame.width) != GIF_ERROR;
    }
  }
  if (EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
  if (!ok) {
    ADD_FAILURE() << "giflib could not write the GIF";
    return {};
  }
  return out;
}

Bytes MakeGif(int width, int height, const std::vector<GifColour>& colours,
              const std::vector<std::uint8_t>& indicesTopDown, bool interlaced) {
  GifPicture picture;
  picture.screenWidth = width;
  picture.screenHeight = height;
  picture.globalColours = colours;
  GifFrame frame;
  frame.width = width;
  frame.height = height;
  frame.indices = indicesTopDown;
  frame.interlaced = interlaced;
  picture.frames.push_back(frame);
  return MakeGif(picture);
}

}  // namespace norvane::test
