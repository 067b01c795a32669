// Drawing a decoded picture fitted into a preview pane.
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>

#include "image/DecodedImage.h"

class QPainter;

namespace norvane::ui {

// The size a width x height picture is drawn at in a paneWidth x paneHeight
// pane: scaled by the smaller of the two quotients (computed in double
// precision, enlarging as well as reducing), each side truncated toward zero.
// An empty picture or pane gives 0 x 0.
QSize FittedSize(int width, int height, int paneWidth, int paneHeight);

// Bytes per row of the drawing copy of a picture: the row rounded up to a
// multiple of 4 bytes (1 byte per pixel for Indexed8, 3 for Bgr24); 0 for
// kinds that are not drawn.
std::int64_t PaddedStride(PixelKind kind, int width);

// The drawing copy of a picture: rows padded to PaddedStride, Indexed8 with
// its palette, Bgr24 with its bytes in blue, green, red order. Null for Empty,
// Gray16 and Quad32 pictures (they are not drawn) and when memory runs out.
QImage ToBitmap(const DecodedImage& image);

// Paints a pane of paneWidth x paneHeight: the whole pane in `background`,
// then `bitmap` (a ToBitmap copy of a width x height picture, or null) scaled
// to FittedSize at the top-left corner, pixels repeated or dropped, never
// blended.
void DrawFitted(QPainter& painter, const QImage& bitmap, int width, int height, int paneWidth,
                int paneHeight, const QColor& background);

// The same for a decoded picture, converting it for this one drawing.
void DrawFitted(const DecodedImage& image, QPainter& painter, int paneWidth, int paneHeight,
                const QColor& background);

}  // namespace norvane::ui
