#include "plugins/PluginOutput.h"

#include <cstdlib>
#include <cstring>

#include "image/PluginContract.h"

namespace norvane::plugin {
namespace {

void PutU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

OutputPicture::~OutputPicture() {
  std::free(info_);
  std::free(bits_);
}

int OutputPicture::Allocate(std::int64_t width, std::int64_t height, int bitsPerPixel) {
  if (width <= 0 || height <= 0 || width > kMaxPixels || height > kMaxPixels || width * height > kMaxPixels) {
    return kTooLarge;
  }
  const std::int64_t colours = bitsPerPixel == 8 ? 256 : 0;
  const std::int64_t rowLength = (width * bitsPerPixel + 31) / 32 * 4;
  const std::int64_t imageSize = rowLength * height;  // at most about 4 * kMaxPixels
  if (imageSize > INT32_MAX) return kTooLarge;      // the header's size field is 32 bits

  const std::size_t infoSize = NORVANE_INFO_HEADER_SIZE + 4 * static_cast<std::size_t>(colours);
  info_ = static_cast<std::uint8_t*>(std::calloc(infoSize, 1));
  // Zeroed rows: the padding bytes never carry stale heap contents.
  bits_ = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(imageSize), 1));
  if (info_ == nullptr || bits_ == nullptr) return kNoMemory;
  height_ = height;
  rowLength_ = rowLength;

  PutU32(info_, NORVANE_INFO_HEADER_SIZE);
  PutU32(info_ + NORVANE_INFO_WIDTH, static_cast<std::uint32_t>(width));
  PutU32(info_ + NORVANE_INFO_HEIGHT, static_cast<std::uint32_t>(height));  // positive: bottom-up
  PutU16(info_ + NORVANE_INFO_PLANES, 1);
  PutU16(info_ + NORVANE_INFO_BIT_COUNT, static_cast<std::uint32_t>(bitsPerPixel));
  PutU32(info_ + NORVANE_INFO_IMAGE_SIZE, static_cast<std::uint32_t>(imageSize));
  PutU32(info_ + NORVANE_INFO_COLOURS_USED, static_cast<std::uint32_t>(colours));
  return kOk;
}

void OutputPicture::SetColour(int index, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  std::uint8_t* entry = info_ + NORVANE_INFO_HEADER_SIZE + 4 * index;
  entry[0] = blue;
  entry[1] = green;
  entry[2] = red;
  entry[3] = 0;
}

void OutputPicture::Release(void** info, void** bits) {
  *info = info_;
  *bits = bits_;
  info_ = nullptr;
  bits_ = nullptr;
}

int DeliverPicture(const char* buf, long len, unsigned int flag, void** info, void** bits,
                   DecodeFunction decode) {
  if (buf == nullptr || len < 0 || info == nullptr || bits == nullptr || flag != NORVANE_PLUGIN_FLAG_MEMORY) {
    return kBadArguments;
  }
  *info = nullptr;
  *bits = nullptr;
  OutputPicture picture;
  const int status = decode(buf, len, picture);
  if (status == kOk) picture.Release(info, bits);
  return status;
}

}  // namespace norvane::plugin
