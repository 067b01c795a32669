#include "ui/PaneDrawing.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <QPainter>

namespace norvane::ui {

QSize FittedSize(int width, int height, int paneWidth, int paneHeight) {
  if (width <= 0 || height <= 0 || paneWidth <= 0 || paneHeight <= 0) return {0, 0};
  const double sx = static_cast<double>(paneWidth) / width;
  const double sy = static_cast<double>(paneHeight) / height;
  const double s = std::min(sx, sy);
  return {static_cast<int>(width * s), static_cast<int>(height * s)};
}

QImage FittedBitmap(const DecodedImage& image, int paneWidth, int paneHeight) {
  const PixelKind kind = image.pixelKind;
  if (kind != PixelKind::Indexed8 && kind != PixelKind::Bgr24) return {};
  if (image.width <= 0 || image.height <= 0 || image.Pixels() == nullptr) return {};
  const int bytesPerPixel = BytesPerPixel(kind);
  const std::int64_t rowBytes = std::int64_t{image.width} * bytesPerPixel;
  if (static_cast<std::int64_t>(image.PixelBytes()) < rowBytes * image.height) return {};
  const QSize drawn = FittedSize(image.width, image.height, paneWidth, paneHeight);
  if (drawn.isEmpty()) return {};

  QImage fitted(drawn, QImage::Format_RGB32);
  if (fitted.isNull()) return {};
  // The source column of every drawn column, worked out once.
  std::vector<std::int64_t> columns(static_cast<std::size_t>(drawn.width()));
  for (int x = 0; x < drawn.width(); ++x) {
    const std::int64_t sx = (std::int64_t{2} * x + 1) * image.width / (std::int64_t{2} * drawn.width());
    columns[static_cast<std::size_t>(x)] = sx * bytesPerPixel;
  }
  QRgb palette[256];
  for (int i = 0; i < 256; ++i) {
    const PaletteEntry& e = image.palette[static_cast<std::size_t>(i)];
    palette[i] = qRgb(e.red, e.green, e.blue);
  }
  const std::uint8_t* pixels = image.Pixels();
  for (int y = 0; y < drawn.height(); ++y) {
    const std::int64_t sy = (std::int64_t{2} * y + 1) * image.height / (std::int64_t{2} * drawn.height());
    const std::uint8_t* row = pixels + sy * rowBytes;
    auto* out = reinterpret_cast<QRgb*>(fitted.scanLine(y));
    if (kind == PixelKind::Indexed8) {
      for (std::size_t x = 0; x < columns.size(); ++x) out[x] = palette[row[columns[x]]];
    } else {
      for (std::size_t x = 0; x < columns.size(); ++x) {
        const std::uint8_t* p = row + columns[x];
        out[x] = qRgb(p[2], p[1], p[0]);
      }
    }
  }
  return fitted;
}

void DrawFitted(QPainter& painter, const QImage& fitted, int paneWidth, int paneHeight,
                const QColor& background) {
  painter.fillRect(0, 0, paneWidth + 1, paneHeight + 1, background);
  if (!fitted.isNull()) painter.drawImage(QPoint(0, 0), fitted);
}

void DrawFitted(const DecodedImage& image, QPainter& painter, int paneWidth, int paneHeight,
                const QColor& background) {
  DrawFitted(painter, FittedBitmap(image, paneWidth, paneHeight), paneWidth, paneHeight, background);
}

}  // namespace norvane::ui
