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

void PreviewPane::SetImage(const DecodedImage* image) {
  if (image == nullptr) {
    bitmap_ = QImage();
    width_ = height_ = 0;
  } else {
    bitmap_ = ToBitmap(*image);
    width_ = image->width;
    height_ = image->height;
  }
  update();
}

void PreviewPane::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.setClipRect(area);
    painter.translate(area.topLeft());
    // Gray16 and Quad32 pictures have no drawing copy: the pane stays cleared.
    DrawFitted(painter, bitmap_, width_, height_, area.width(), area.height(),
               palette().color(QPalette::Button));
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
