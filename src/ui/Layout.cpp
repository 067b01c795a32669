#include "ui/Layout.h"

#include <algorithm>

namespace norvane::ui {

int DialogUnitsToPixels(int units) { return units * 3 / 2; }

Rect DialogRect(int x, int y, int width, int height) {
  return {DialogUnitsToPixels(x), DialogUnitsToPixels(y), DialogUnitsToPixels(width),
          DialogUnitsToPixels(height)};
}

int ListHeight(int clientHeight, std::int32_t imgHeightRatio) {
  // The factor is deliberately single precision: with a ratio of 70 it is
  // slightly above 0.3, so 600 pixels give 180 rather than 179.
  const float r = static_cast<float>((100 - static_cast<double>(imgHeightRatio)) * 0.01);
  return static_cast<int>(static_cast<double>(clientHeight - 70) * static_cast<double>(r));
}

namespace {

Rect Sized(Rect designed, int width, int height) {
  designed.width = std::max(width, 0);
  designed.height = std::max(height, 0);
  return designed;
}

Rect Moved(Rect designed, int x, int y) {
  designed.x = x;
  designed.y = y;
  return designed;
}

Rect Placed(int x, int y, int width, int height) {
  return {x, y, std::max(width, 0), std::max(height, 0)};
}

}  // namespace

ControlRects LayoutControls(int width, int height, std::int32_t imgHeightRatio) {
  const int w = width;
  const int h = height;
  const int list = ListHeight(h, imgHeightRatio);
  const int half = w / 2;
  const int pane = half - 12;

  ControlRects c;
  c.searchEdit = Sized(DialogRect(54, 7, 351, 14), w - 125, 20);
  c.moveEdit = Sized(DialogRect(54, 24, 350, 14), w - 125, 20);
  c.list = Sized(DialogRect(7, 44, 356, 138), w - 130, list);
  c.searchBrowse = Moved(DialogRect(407, 7, 10, 14), w - 30, 13);
  c.moveBrowse = Moved(DialogRect(407, 24, 10, 14), w - 30, 39);
  c.options = Moved(DialogRect(369, 70, 50, 14), w - 100, 70);
  c.start = Moved(DialogRect(369, 104, 50, 14), w - 100, 94);
  c.status = Moved(DialogRect(369, 126, 50, 16), w - 100, 118);
  c.batchMove = Moved(DialogRect(369, 153, 50, 14), w - 100, 148);
  c.leftInfo = Placed(10, list + 78, pane, 60);
  c.rightInfo = Placed(half + 2, list + 78, pane, 60);
  c.leftPane = Placed(10, list + 142, pane, h - list - 152);
  c.rightPane = Placed(half + 2, list + 142, pane, h - list - 152);
  return c;
}

}  // namespace norvane::ui
