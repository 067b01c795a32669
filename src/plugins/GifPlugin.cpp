// "ifgif.spi": GIF files through giflib.
//
// Delivers the first image of the file as 8 bits per pixel with its colour
// map (the image's local map, else the global one), padded to 256 entries
// with black. The image is delivered as it is stored, at its own size: its
// position on the logical screen, the screen's background and any later
// frames are not used, so an animation is represented by its first frame.
// A transparent index keeps the colour its map gives it.
#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "image/PluginContract.h"
#include "plugins/PluginOutput.h"

namespace norvane::plugin {
namespace {

struct MemorySource {
  const GifByteType* data = nullptr;
  std::size_t size = 0;
  std::size_t position = 0;
};

// giflib's input function: copies up to `wanted` bytes and reports how many.
// Fewer than asked makes giflib fail the call, so a truncated file ends in an
// error and never in a read past the block.
int ReadFromMemory(GifFileType* gif, GifByteType* out, int wanted) {
  auto* source = static_cast<MemorySource*>(gif->UserData);
  if (wanted <= 0) return 0;
  const std::size_t count = std::min(static_cast<std::size_t>(wanted), source->size - source->position);
  std::memcpy(out, source->data + source->position, count);
  source->position += count;
  return static_cast<int>(count);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifFile = std::unique_ptr<GifFileType, GifCloser>;

// Skips one extension block and its sub-blocks.
bool SkipExtension(GifFileType* gif) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

// Reads the pixels of the image whose descriptor was just read. Interlaced
// images deliver their rows in four passes: every 8th row from row 0, every
// 8th from row 4, every 4th from row 2, every 2nd from row 1.
int ReadImage(GifFileType* gif, OutputPicture& picture) {
  const GifImageDesc& desc = gif->Image;
  const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
  if (map == nullptr || map->Colors == nullptr) return kCorrupt;  // nothing gives the indices a colour
  const int status = picture.Allocate(desc.Width, desc.Height, 8);
  if (status != kOk) return status;

  const int colours = std::clamp(map->ColorCount, 0, 256);
  for (int i = 0; i < colours; ++i) {
    picture.SetColour(i, map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
  }

  const int height = desc.Height;
  if (desc.Interlace) {
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
      for (int y = kStart[pass]; y < height; y += kStep[pass]) {
        if (DGifGetLine(gif, picture.Row(y), desc.Width) == GIF_ERROR) return kCorrupt;
      }
    }
  } else {
    for (int y = 0; y < height; ++y) {
      if (DGifGetLine(gif, picture.Row(y), desc.Width) == GIF_ERROR) return kCorrupt;
    }
  }
  return kOk;
}

// Walks the records up to the first image. Records are read one by one
// instead of slurping the whole file: the image's size is checked before
// anything is allocated for it, and later frames are never decoded.
int Decode(const char* buf, long len, OutputPicture& picture) {
  MemorySource source{reinterpret_cast<const GifByteType*>(buf), static_cast<std::size_t>(len), 0};
  int error = 0;
  const GifFile gif(DGifOpen(&source, ReadFromMemory, &error));
  if (!gif) return error == D_GIF_ERR_NOT_GIF_FILE ? kNotThisFormat : kCorrupt;

  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) return kCorrupt;
    switch (type) {
      case IMAGE_DESC_RECORD_TYPE:
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return kCorrupt;
        return ReadImage(gif.get(), picture);
      case EXTENSION_RECORD_TYPE:
        if (!SkipExtension(gif.get())) return kCorrupt;
        break;
      default:
        return kCorrupt;  // the file ends without an image
    }
  }
}

}  // namespace
}  // namespace norvane::plugin

extern "C" __attribute__((visibility("default"))) int GetPicture(const char* buf, long len, unsigned int flag,
                                                                 void** info, void** bits, PluginProgress,
                                                                 long) {
  return norvane::plugin::DeliverPicture(buf, len, flag, info, bits, norvane::plugin::Decode);
}
