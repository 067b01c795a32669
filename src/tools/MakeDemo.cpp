// norvane-make-demo FOLDER: fills FOLDER with sample pictures for trying the
// program: pairs with identical pixels in two formats, resized and
// recompressed copies, and unrelated pictures. Existing files are replaced.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "image/DecodedImage.h"

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 360;

QImage Canvas() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  return image;
}

QImage Sunset() {
  QImage image = Canvas();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, kHeight);
  sky.setColorAt(0, QColor(40, 30, 90));
  sky.setColorAt(0.6, QColor(240, 120, 60));
  sky.setColorAt(1, QColor(250, 200, 90));
  p.fillRect(image.rect(), sky);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 230, 120));
  p.drawEllipse(QPointF(300, 230), 50, 50);
  p.setBrush(QColor(30, 40, 70));
  p.drawRect(0, 260, kWidth, 100);
  return image;
}

QImage Harbour() {
  QImage image = Canvas();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(0, 0, kWidth, 200, QColor(150, 200, 240));
  p.fillRect(0, 200, kWidth, 160, QColor(30, 90, 150));
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 4; ++i) {
    p.setBrush(QColor(200 - i * 30, 60 + i * 40, 50));
    p.drawRect(40 + i * 110, 150, 80, 60);
    p.setBrush(QColor(250, 250, 250));
    QPainterPath sail;
    sail.moveTo(80 + i * 110, 60);
    sail.lineTo(80 + i * 110, 145);
    sail.lineTo(120 + i * 110, 145);
    sail.closeSubpath();
    p.drawPath(sail);
  }
  return image;
}

QImage Forest() {
  QImage image = Canvas();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(image.rect(), QColor(200, 230, 200));
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 9; ++i) {
    const int x = 20 + i * 52;
    p.setBrush(QColor(90, 60, 30));
    p.drawRect(x + 18, 250, 12, 80);
    p.setBrush(QColor(20, 100 + (i % 3) * 30, 40));
    QPainterPath tree;
    tree.moveTo(x + 24, 80 + (i % 2) * 30);
    tree.lineTo(x - 6, 260);
    tree.lineTo(x + 54, 260);
    tree.closeSubpath();
    p.drawPath(tree);
  }
  return image;
}

QImage Stripes() {
  QImage image = Canvas();
  QPainter p(&image);
  for (int i = 0; i < 12; ++i) {
    p.fillRect(i * 40, 0, 40, kHeight, QColor::fromHsv(i * 30, 180, 230));
  }
  return image;
}

QImage Dots() {
  QImage image = Canvas();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(image.rect(), QColor(20, 20, 30));
  p.setPen(Qt::NoPen);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      QRadialGradient glow(30 + x * 60, 30 + y * 60, 24);
      glow.setColorAt(0, QColor::fromHsv((x * 40 + y * 25) % 360, 200, 255));
      glow.setColorAt(1, QColor(20, 20, 30));
      p.setBrush(glow);
      p.drawEllipse(QPointF(30 + x * 60, 30 + y * 60), 24, 24);
    }
  }
  return image;
}

QImage Plain() {
  QImage image = Canvas();
  QPainter p(&image);
  QLinearGradient g(0, 0, kWidth, kHeight);
  g.setColorAt(0, QColor(230, 230, 220));
  g.setColorAt(1, QColor(120, 130, 140));
  p.fillRect(image.rect(), g);
  return image;
}

// Encodes in memory and writes the file under the path's own bytes; the
// format follows the extension.
bool Save(const QImage& image, const std::string& path, int quality = -1) {
  const std::string format = path.substr(path.rfind('.') + 1);
  QByteArray encoded;
  QBuffer buffer(&encoded);
  if (buffer.open(QIODevice::WriteOnly) && image.save(&buffer, format.c_str(), quality)) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(encoded.constData(), encoded.size());
    if (out.flush()) return true;
  }
  std::fprintf(stderr, "norvane-make-demo: cannot write %s\n", path.c_str());
  return false;
}

// Writes a BMP with exactly the pixels the program decodes from `jpegPath`,
// so the pair shows a difference of 0 and the same pixel digest.
bool SaveDecodedAsBmp(const std::string& jpegPath, const std::string& bmpPath) {
  norvane::DecodedImage decoded;
  if (decoded.LoadImageFile(jpegPath) != norvane::LoadResult::LoadOk ||
      decoded.ExpandPalette() != norvane::LoadResult::LoadOk ||
      decoded.pixelKind != norvane::PixelKind::Bgr24) {
    std::fprintf(stderr, "norvane-make-demo: cannot decode %s\n", jpegPath.c_str());
    return false;
  }
  const QImage view(decoded.colour.data(), decoded.width, decoded.height, decoded.width * 3,
                    QImage::Format_BGR888);
  return Save(view.convertToFormat(QImage::Format_RGB32), bmpPath);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: norvane-make-demo FOLDER\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const std::string dir = argv[1];
  std::error_code error;
  std::filesystem::create_directories(dir + "/more", error);
  if (error) {
    std::fprintf(stderr, "norvane-make-demo: cannot create %s\n", dir.c_str());
    return 1;
  }

  bool ok = true;
  // Identical pixels in two formats.
  ok &= Save(Sunset(), dir + "/sunset.jpg", 90);
  ok &= SaveDecodedAsBmp(dir + "/sunset.jpg", dir + "/sunset_copy.bmp");
  ok &= Save(Harbour(), dir + "/harbour.bmp");
  ok &= Save(Harbour(), dir + "/harbour.png");
  // Resized and recompressed copies.
  ok &= Save(Sunset().scaled(240, 180, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
             dir + "/sunset_small.jpg", 80);
  ok &= Save(Harbour(), dir + "/harbour_q30.jpg", 30);
  ok &= Save(Forest(), dir + "/forest.jpg", 92);
  ok &= Save(Forest().scaled(640, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
             dir + "/more/forest_large.jpg", 70);
  // Unrelated pictures.
  ok &= Save(Stripes(), dir + "/stripes.bmp");
  ok &= Save(Dots(), dir + "/more/dots.jpg", 90);
  ok &= Save(Plain(), dir + "/more/plain.png");
  return ok ? 0 : 1;
}
