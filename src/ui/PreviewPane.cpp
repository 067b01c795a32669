#include "ui/PreviewPane.h"

#include <utility>

#include <QMouseEvent>
#include <QPainter>

#include "ui/PaneDrawing.h"

namespace norvane::ui {

PreviewPane::PreviewPane(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

std::shared_ptr<const DecodedImage> PreviewPane::SetImage(std::shared_ptr<const DecodedImage> image) {
  std::swap(image_, image);
  fitted_ = QImage();
  fittedFor_ = QSize();
  update();
  return image;
}

bool PreviewPane::HasPicture() const {
  return image_ != nullptr &&
         (image_->pixelKind == PixelKind::Indexed8 || image_->pixelKind == PixelKind::Bgr24) &&
         image_->width > 0 && image_->height > 0;
}

void PreviewPane::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    const QRect area = contentsRect();
    if (image_ != nullptr && fittedFor_ != area.size()) {
      fitted_ = FittedBitmap(*image_, area.width(), area.height());
      fittedFor_ = area.size();
    }
    painter.setClipRect(area);
    painter.translate(area.topLeft());
    // Gray16 and Quad32 pictures have no fitted copy: the pane stays cleared.
    DrawFitted(painter, fitted_, area.width(), area.height(), palette().color(QPalette::Button));
  }
  QFrame::paintEvent(event);  // the sunken border
}

void PreviewPane::mousePressEvent(QMouseEvent* event) {
  secondClick_ = false;
  QFrame::mousePressEvent(event);
}

void PreviewPane::mouseDoubleClickEvent(QMouseEvent* event) {
  // Follows the second press; not passed on, as the base class would treat
  // it as one more press.
  secondClick_ = true;
  event->accept();
}

void PreviewPane::mouseReleaseEvent(QMouseEvent* event) {
  const bool secondClick = std::exchange(secondClick_, false);
  if (!secondClick && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QFrame::mouseReleaseEvent(event);
}

}  // namespace norvane::ui
