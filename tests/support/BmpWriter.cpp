#include "support/BmpWriter.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace norvane::test {

Bytes MakeBmp(const BmpFields& fields) {
  constexpr std::uint32_t kHeaders = 14 + 40;
  const auto pixelStart = static_cast<std::uint32_t>(kHeaders + fields.colourTable.size() + fields.gap.size());
  const auto total = static_cast<std::uint32_t>(pixelStart + fields.pixels.size());

  Bytes out;
  out.reserve(total);
  PutU16(out, fields.magic);
  PutU32(out, fields.fileSize.value_or(total));
  PutU32(out, 0);  // reserved
  PutU32(out, fields.dataOffset.value_or(pixelStart));
  PutU32(out, fields.headerSize);
  PutI32(out, fields.width);
  PutI32(out, fields.height);
  PutU16(out, fields.planes);
  PutU16(out, fields.bitsPerPixel);
  PutU32(out, fields.compression);
  PutU32(out, fields.imageSize);
  PutU32(out, 2835);  // 72 dpi, both directions
  PutU32(out, 2835);
  PutU32(out, fields.coloursUsed);
  PutU32(out, fields.importantColours);
  PutBytes(out, fields.colourTable);
  PutBytes(out, fields.gap);
  PutBytes(out, fields.pixels);
  return out;
}

std::size_t BmpRowLength(int width, int bitsPerPixel) {
  const std::size_t bits = static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel);
  return (bits + 31) / 32 * 4;
}

Bytes BmpColourTable(const std::vector<std::array<std::uint8_t, 3>>& bgr) {
  Bytes out;
  for (const auto& e : bgr) PutBytes(out, {e[0], e[1], e[2], 0});
  return out;
}

Bytes MakeBmp24(int width, int height, const std::vector<std::uint8_t>& bgrTopDown) {
  if (width < 0 || height < 0 ||
      bgrTopDown.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
    ADD_FAILURE() << "MakeBmp24: " << bgrTopDown.size() << " bytes do not make a " << width << " x " << height
                  << " picture";
    return {};
  }
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  const std::size_t rowLength = BmpRowLength(width, 24);
  BmpFields fields;
  fields.width = width;
  fields.height = height;
  fields.imageSize = static_cast<std::uint32_t>(rowLength * static_cast<std::size_t>(height));
  fields.pixels.assign(rowLength * static_cast<std::size_t>(height), 0);
  for (int y = 0; y < height; ++y) {  // stored bottom row first
    std::copy_n(bgrTopDown.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * rowBytes), rowBytes,
                fields.pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(height - 1 - y) * rowLength));
  }
  return MakeBmp(fields);
}

}  // namespace norvane::test
