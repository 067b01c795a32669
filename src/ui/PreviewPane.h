// One of the two sunken frames that show a picture of the chosen pair.
#pragma once

#include <QFrame>
#include <QImage>

#include "image/DecodedImage.h"

namespace norvane::ui {

class PreviewPane : public QFrame {
  Q_OBJECT

 public:
  explicit PreviewPane(QWidget* parent = nullptr);

  // The picture to show, or null for none. The pane keeps a drawing copy
  // made once here, so repaints never convert the picture again.
  void SetImage(const DecodedImage* image);
  bool HasPicture() const { return !bitmap_.isNull(); }
  // The area pictures are drawn into (inside the sunken border).
  QSize DrawingSize() const { return contentsRect().size(); }

 signals:
  // A left click released over the pane; never the second click of a
  // double click.
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // The button went down as the second click of a double click. The first
  // click has already acted and the pane may show the next pair by now,
  // which the user has not looked at: this click does nothing.
  bool secondClick_ = false;
  QImage bitmap_;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace norvane::ui
