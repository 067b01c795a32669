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

// The picture scaled to FittedSize for a paneWidth x paneHeight pane, pixels
// repeated or dropped, never blended: drawn pixel (x, y) is the picture's
// pixel at the centre of its footprint. The work is in proportion to the
// drawn size, not to the picture's, so a picture of tens of megapixels is
// fitted within a display frame. Indexed8 goes through its palette, Bgr24
// is taken as it is. Null for Empty, Gray16 and Quad32 pictures (they are
// not drawn), for an empty fitted size and when memory runs out.
QImage FittedBitmap(const DecodedImage& image, int paneWidth, int paneHeight);

// Paints a pane of paneWidth x paneHeight: the whole pane in `background`,
// then `fitted` (a FittedBitmap, or null) at the top-left corner.
void DrawFitted(QPainter& painter, const QImage& fitted, int paneWidth, int paneHeight,
                const QColor& background);

// The same for a decoded picture, fitted for this one drawing.
void DrawFitted(const DecodedImage& image, QPainter& painter, int paneWidth, int paneHeight,
                const QColor& background);

}  // namespace norvane::ui
