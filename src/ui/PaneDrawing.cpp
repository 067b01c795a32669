#include "ui/PaneDrawing.h"

#include <algorithm>
#include <cstring>

#include <QPainter>

namespace norvane::ui {

QSize FittedSize(int width, int height, int paneWidth, int paneHeight) {
  if (width <= 0 || height <= 0 || paneWidth <= 0 || paneHeight <= 0) return {0, 0};
  const double sx = static_cast<double>(paneWidth) / width;
  const double sy = static_cast<double>(paneHeight) / height;
  const double s = std::min(sx, sy);
  return {static_cast<int>(width * s), static_cast<int>(height * s)};
}

std::int64_t PaddedStride(PixelKind kind, int width) {
  if (width < 0) return 0;
  std::int64_t bytes = 0;
  switch (kind) {
    case PixelKind::Indexed8:
      bytes = width;
      break;
    case PixelKind::Bgr24:
      bytes = std::int64_t{3} * width;
      break;
    default:
      return 0;
  }
  return (bytes + 3) / 4 * 4;
}

QImage ToBitmap(const DecodedImage& image) {
  const PixelKind kind = image.pixelKind;
  if (kind != PixelKind::Indexed8 && kind != PixelKind::Bgr24) return {};
  if (image.width <= 0 || image.height <= 0 || image.Pixels() == nullptr) return {};
  const std::int64_t rowBytes = std::int64_t{image.width} * BytesPerPixel(kind);
  if (static_cast<std::int64_t>(image.PixelBytes()) < rowBytes * image.height) return {};

  QImage bitmap(image.width, image.height,
                kind == PixelKind::Indexed8 ? QImage::Format_Indexed8 : QImage::Format_BGR888);
  // A picture too large for the memory left gives a null image.
  if (bitmap.isNull() || bitmap.bytesPerLine() != PaddedStride(kind, image.width)) return {};
  if (kind == PixelKind::Indexed8) {
    QList<QRgb> table;
    table.reserve(256);
    for (const PaletteEntry& e : image.palette) table.push_back(qRgb(e.red, e.green, e.blue));
    bitmap.setColorTable(table);
  }
  const std::uint8_t* source = image.Pixels();
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t* row = bitmap.scanLine(y);
    std::memcpy(row, source + rowBytes * y, static_cast<std::size_t>(rowBytes));
    // The padding bytes of a row carry no pixels; keep them defined.
    std::memset(row + rowBytes, 0, static_cast<std::size_t>(bitmap.bytesPerLine() - rowBytes));
  }
  return bitmap;
}

void DrawFitted(QPainter& painter, const QImage& bitmap, int width, int height, int paneWidth,
                int paneHeight, const QColor& background) {
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.fillRect(0, 0, paneWidth + 1, paneHeight + 1, background);
  const QSize drawn = FittedSize(width, height, paneWidth, paneHeight);
  if (!bitmap.isNull() && !drawn.isEmpty()) {
    painter.drawImage(QRect(QPoint(0, 0), drawn), bitmap, QRect(0, 0, width, height));
  }
  painter.restore();
}

void DrawFitted(const DecodedImage& image, QPainter& painter, int paneWidth, int paneHeight,
                const QColor& background) {
  DrawFitted(painter, ToBitmap(image), image.width, image.height, paneWidth, paneHeight,
             background);
}

}  // namespace norvane::ui
