// Geometry of the main window's controls: where they sit when the window is
// first built and where the size handler moves them.
#pragma once

#include <cstdint>

namespace norvane::ui {

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Rect&) const = default;
};

// Dialog units of the window's design turned into pixels: 1.5 pixels per unit
// both ways (a 9-point Gothic face measures about 6 x 12 pixels, four and eight
// units). Truncated toward zero.
int DialogUnitsToPixels(int units);
Rect DialogRect(int x, int y, int width, int height);

// Every control the size handler places, in pixels of the client area.
struct ControlRects {
  Rect searchEdit;    // 1001, target folder
  Rect searchBrowse;  // 1002
  Rect moveEdit;      // 1013, move folder
  Rect moveBrowse;    // 1014
  Rect list;          // 1000, result list
  Rect options;       // 1016
  Rect start;         // 1005
  Rect status;        // 1009
  Rect batchMove;     // 1035
  Rect leftInfo;      // 1003
  Rect rightInfo;     // 1008
  Rect leftPane;      // 1004
  Rect rightPane;     // 1010
};

// The list height for a client height and preview ratio: the part of the
// resizable height (H - 70) left to the list, with the factor held in single
// precision as the window has always computed it.
int ListHeight(int clientHeight, std::int32_t imgHeightRatio);

// Places the controls for a client area of width x height pixels. Controls
// that are only resized keep their designed position; controls that are only
// moved keep their designed size. Sizes that would come out negative in a tiny
// window are held at 0.
ControlRects LayoutControls(int width, int height, std::int32_t imgHeightRatio);

}  // namespace norvane::ui
