// Fitting and drawing a decoded picture into a preview pane.
#include <QPainter>
#include <QTest>

#include "image/DecodedImage.h"
#include "ui/PaneDrawing.h"

namespace norvane::ui {
namespace {

const QColor kFace(212, 208, 200);

// A Bgr24 picture whose left half is `left` and right half is `right`.
DecodedImage TwoHalves(int width, int height, QColor left, QColor right) {
  DecodedImage image;
  if (image.AllocatePixels(width, height, PixelKind::Bgr24) != LoadResult::LoadOk) return image;
  std::uint8_t* p = image.colour.data();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const QColor c = x < width / 2 ? left : right;
      *p++ = static_cast<std::uint8_t>(c.blue());
      *p++ = static_cast<std::uint8_t>(c.green());
      *p++ = static_cast<std::uint8_t>(c.red());
    }
  }
  return image;
}

QImage Paint(const DecodedImage& image, int w, int h) {
  QImage pane(w + 20, h + 20, QImage::Format_RGB32);
  pane.fill(Qt::magenta);  // anything left magenta inside w x h was never painted
  QPainter painter(&pane);
  DrawFitted(image, painter, w, h, kFace);
  painter.end();
  return pane;
}

// The bounding box of the pixels that are neither button face nor magenta.
QRect PictureBox(const QImage& pane, int w, int h) {
  QRect box;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const QColor c = pane.pixelColor(x, y);
      if (c != kFace && c != QColor(Qt::magenta)) box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

class PaneDrawingTest : public QObject {
  Q_OBJECT

 private slots:
  void FittedSizeTruncatesAndEnlarges() {
    // Each side is truncated, never rounded up: 200 / 3 = 66.67 gives 66;
    // nothing to fit, or nowhere to fit it, gives nothing.
    const struct {
      int w, h, paneW, paneH;
      QSize expected;
    } cases[] = {{400, 300, 200, 200, {200, 150}}, {300, 200, 100, 100, {100, 66}}, {3, 7, 50, 100, {42, 100}},
                 {0, 10, 200, 200, {0, 0}}, {10, 10, -5, 200, {0, 0}}};
    for (const auto& c : cases) QCOMPARE(FittedSize(c.w, c.h, c.paneW, c.paneH), c.expected);
  }

  void ReducedPictureSitsTopLeft() {
    const DecodedImage image = TwoHalves(400, 300, Qt::red, Qt::blue);
    const QImage pane = Paint(image, 200, 200);
    QCOMPARE(PictureBox(pane, 200, 200), QRect(0, 0, 200, 150));
    QCOMPARE(pane.pixelColor(99, 10), QColor(Qt::red));
    QCOMPARE(pane.pixelColor(100, 10), QColor(Qt::blue));
    QCOMPARE(pane.pixelColor(100, 170), kFace);  // the strip below keeps the face colour
  }

  // An enlarged 8-bit picture repeats each pixel, in its palette's colour.
  void EnlargedIndexedPictureRepeatsPixels() {
    DecodedImage image;
    QCOMPARE(image.AllocatePixels(3, 1, PixelKind::Indexed8), LoadResult::LoadOk);
    image.indexed.data()[0] = 7;
    image.indexed.data()[1] = 9;
    image.indexed.data()[2] = 7;
    image.palette[7] = {255, 0, 0, 0};  // blue, green, red
    image.palette[9] = {0, 0, 255, 0};
    const QImage pane = Paint(image, 9, 6);
    QCOMPARE(PictureBox(pane, 9, 6), QRect(0, 0, 9, 3));
    for (int x = 0; x < 9; ++x) QCOMPARE(pane.pixelColor(x, 2), QColor(x / 3 == 1 ? Qt::red : Qt::blue));
  }

};

}  // namespace
}  // namespace norvane::ui

QTEST_MAIN(norvane::ui::PaneDrawingTest)
#include "PaneDrawingTest.moc"
