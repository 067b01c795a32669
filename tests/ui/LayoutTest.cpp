// Placement of the main window's controls for a client size and preview ratio.
#include <QTest>

#include "ui/Layout.h"

namespace norvane::ui {
namespace {

class LayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void DefaultRatioPlacesEveryControl() {
    const ControlRects c = LayoutControls(800, 670, 75);
    // The list keeps its designed corner and takes a quarter of H - 70.
    QCOMPARE(c.list.width, 670);
    QCOMPARE(c.list.height, 150);
    QCOMPARE(c.list.x, DialogUnitsToPixels(7));
    QCOMPARE(c.list.y, DialogUnitsToPixels(44));
    QCOMPARE(c.searchEdit.width, 675);
    QCOMPARE(c.moveEdit.width, 675);
    QCOMPARE(c.searchEdit.height, 20);
    QCOMPARE((Rect{c.searchBrowse.x, c.searchBrowse.y, 0, 0}), (Rect{770, 13, 0, 0}));
    QCOMPARE((Rect{c.moveBrowse.x, c.moveBrowse.y, 0, 0}), (Rect{770, 39, 0, 0}));
    QCOMPARE(c.options.x, 700);
    QCOMPARE(c.options.y, 70);
    QCOMPARE(c.start.y, 94);
    QCOMPARE(c.status.y, 118);
    QCOMPARE(c.batchMove.y, 148);
    // Moved controls keep their designed size.
    QCOMPARE(c.start.width, DialogUnitsToPixels(50));
    QCOMPARE(c.start.height, DialogUnitsToPixels(14));

    QCOMPARE(c.leftInfo, (Rect{10, 228, 388, 60}));
    QCOMPARE(c.rightInfo, (Rect{402, 228, 388, 60}));
    QCOMPARE(c.leftPane, (Rect{10, 292, 388, 368}));
    QCOMPARE(c.rightPane, (Rect{402, 292, 388, 368}));
  }

  void RatioFactorIsSinglePrecision() {
    // 0.3 as a float is slightly above 0.3: 600 * r truncates to 180.
    QCOMPARE(ListHeight(670, 70), 180);
    QCOMPARE(LayoutControls(800, 670, 70).list.height, 180);
    QCOMPARE(LayoutControls(800, 670, 70).leftPane.y, 180 + 142);
  }

  void RatioLimitsShareTheHeight() {
    QCOMPARE(ListHeight(670, 20), 480);  // 80 % of 600
    QCOMPARE(ListHeight(670, 85), 90);   // 15 % of 600
    // Panes fill the rest down to 10 pixels above the bottom.
    const ControlRects c = LayoutControls(800, 670, 85);
    QCOMPARE(c.leftPane.y + c.leftPane.height, 670 - 10);
  }

  void OddWidthGivesTheSamePanes() {
    const ControlRects even = LayoutControls(800, 670, 75);
    const ControlRects odd = LayoutControls(801, 670, 75);
    QCOMPARE(odd.leftPane, even.leftPane);
    QCOMPARE(odd.rightPane, even.rightPane);
    QCOMPARE(odd.rightInfo, even.rightInfo);
    // The right-hand buttons follow the full width.
    QCOMPARE(odd.start.x, even.start.x + 1);
  }

  void TinyWindowGivesNoNegativeSizes() {
    for (const auto& [w, h] : {std::pair{0, 0}, std::pair{50, 40}, std::pair{120, 200}}) {
      const ControlRects c = LayoutControls(w, h, 75);
      for (const Rect& r : {c.searchEdit, c.moveEdit, c.list, c.leftInfo, c.rightInfo, c.leftPane,
                            c.rightPane}) {
        QVERIFY(r.width >= 0);
        QVERIFY(r.height >= 0);
      }
    }
  }
};

}  // namespace
}  // namespace norvane::ui

QTEST_APPLESS_MAIN(norvane::ui::LayoutTest)
#include "LayoutTest.moc"
