// The options dialog.
#include <QComboBox>
#include <QTest>

#include "ui/OptionsDialog.h"

namespace norvane::ui {
namespace {

OptionValues Values(int sort) {
  OptionValues v;
  v.InitialSort = sort;
  return v;
}

class OptionsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void ElevenOrderingsWithAlignedDashes() {
    OptionsDialog dialog(Values(0), {});
    QComboBox& box = dialog.sortBox();
    QCOMPARE(box.count(), 11);
    const QChar wide(0x3000), dash(0xFF0D);
    QCOMPARE(box.itemText(0), QString::fromUtf8("なし"));
    QCOMPARE(box.itemText(2), QString::fromUtf8("画像名") + dash + QString::fromUtf8("逆"));
    QCOMPARE(box.itemText(5), QString::fromUtf8("日付") + wide + dash + QString::fromUtf8("古"));
    QCOMPARE(box.itemText(10), QString::fromUtf8("高") + wide + wide + dash + QString::fromUtf8("大"));
    // Every item from 5 on has three characters before its dash.
    for (int i = 5; i < 11; ++i) QCOMPARE(box.itemText(i).indexOf(dash), 3);
  }

};

}  // namespace
}  // namespace norvane::ui

QTEST_MAIN(norvane::ui::OptionsDialogTest)
#include "OptionsDialogTest.moc"
