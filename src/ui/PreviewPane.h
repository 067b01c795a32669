// One of the two sunken frames that show a picture of the chosen pair.
#pragma once

#include <memory>

#include <QFrame>
#include <QImage>
#include <QSize>

#include "image/DecodedImage.h"

namespace norvane::ui {

class PreviewPane : public QFrame {
  Q_OBJECT

 public:
  explicit PreviewPane(QWidget* parent = nullptr);

  // The picture to show, or null for none. The pane keeps it and a copy
  // fitted to the pane, made at the first paint after the picture or the
  // pane's size changed: a repaint only copies that, and a picture handed
  // over many times between two paints is never fitted at all.
  // Returns the picture shown before.
  std::shared_ptr<const DecodedImage> SetImage(std::shared_ptr<const DecodedImage> image);
  const DecodedImage* Image() const { return image_.get(); }
  // Whether a picture that is drawn is shown (Gray16 and Quad32 are not).
  bool HasPicture() const;
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
  std::shared_ptr<const DecodedImage> image_;
  QImage fitted_;
  QSize fittedFor_;  // the drawing size fitted_ was made for; invalid when stale
};

}  // namespace norvane::ui
