// Putting the window's and the dialogs' widgets where their designed
// geometry says.
#pragma once

#include <QWidget>

#include <algorithm>

#include "ui/Layout.h"

namespace norvane::ui {

inline void Place(QWidget* widget, const Rect& r) { widget->setGeometry(r.x, r.y, r.width, r.height); }

// Check boxes and labels get at least the room their text needs: the
// designed widths are tight for some fonts.
inline void FitWidth(QWidget* widget) {
  widget->resize(std::max(widget->width(), widget->sizeHint().width()),
                 std::max(widget->height(), widget->sizeHint().height()));
}

}  // namespace norvane::ui
