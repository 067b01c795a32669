// The options dialog on its own and opened from the main window.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/MoveCommands.h"
#include "ui/MoveFixture.h"
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

  void OutOfRangeOrderingOpensWithoutSelectionAndStoresMinusOne() {
    for (int stored : {20, 11, -1, -7}) {
      OptionsDialog dialog(Values(stored), {});
      QCOMPARE(dialog.sortBox().currentIndex(), -1);
      dialog.accept();
      QCOMPARE(dialog.values().InitialSort, -1);
    }
  }

  void ThresholdMustBeAnInteger() {
    std::vector<std::string> told;
    OptionsDialog dialog(Values(0), [&](std::string_view text, std::string_view) { told.emplace_back(text); });
    dialog.show();
    for (const char* bad : {"abc", "", "12x", "2147483648", "1.5"}) {
      dialog.thresholdEdit().setText(bad);
      dialog.confirmBox().setChecked(false);
      dialog.accept();
      QVERIFY(dialog.isVisible());
      QCOMPARE(dialog.values().ThresHold, 100);
      QVERIFY(dialog.values().EnableConfirm);  // nothing taken while invalid
    }
    QCOMPARE(told, std::vector<std::string>(5, kNotIntegerText));
    // Zero, negative and large values are accepted as typed.
    dialog.thresholdEdit().setText(" -40 ");
    dialog.accept();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.values().ThresHold, -40);
    QVERIFY(!dialog.values().EnableConfirm);
  }

  void TrashChoiceConfirmedDisablesTheMoveFolder() {
    test::MoveFixture f({});
    QTimer::singleShot(0, &f.w(), [&] {
      auto* dialog = f.w().findChild<OptionsDialog*>();
      QVERIFY(dialog != nullptr);
      dialog->trashBox().setChecked(true);
      dialog->findChild<QPushButton*>("1")->click();
    });
    f.w().OpenOptions();
    QVERIFY(f.w().settings().GotoTrashBox);
    QVERIFY(!f.w().moveEdit().isEnabled());
    QVERIFY(!f.w().findChild<QPushButton*>("1014")->isEnabled());
    QCOMPARE(f.w().findChild<QLabel*>("1024")->text(), QString::fromUtf8("ごみ箱に移動"));
  }

  void CancelKeepsAllSixAndReappliesTheMoveFolderState() {
    test::MoveFixture f({});
    Settings& s = f.w().settings();
    s.ThresHold = 77;
    s.InitialSort = 4;
    s.EnableCache = false;
    s.EnableSubFolder = true;
    s.EnableConfirm = false;
    s.GotoTrashBox = true;  // not yet shown by the controls
    const Settings before = s;
    QTimer::singleShot(0, &f.w(), [&] {
      auto* dialog = f.w().findChild<OptionsDialog*>();
      QVERIFY(dialog != nullptr);
      QCOMPARE(dialog->thresholdEdit().text(), QString("77"));
      QCOMPARE(dialog->sortBox().currentText(), QString::fromUtf8("サイズ－大"));
      QVERIFY(dialog->trashBox().isChecked() && !dialog->cacheBox().isChecked());
      dialog->thresholdEdit().setText("5");
      dialog->sortBox().setCurrentIndex(9);
      for (QCheckBox* box : {&dialog->subFolderBox(), &dialog->confirmBox(), &dialog->cacheBox(),
                             &dialog->trashBox()}) {
        box->toggle();
      }
      dialog->findChild<QPushButton*>("2")->click();
    });
    f.w().OpenOptions();
    QCOMPARE(s.ThresHold, before.ThresHold);
    QCOMPARE(s.InitialSort, before.InitialSort);
    QCOMPARE(s.EnableCache, before.EnableCache);
    QCOMPARE(s.EnableSubFolder, before.EnableSubFolder);
    QCOMPARE(s.EnableConfirm, before.EnableConfirm);
    QCOMPARE(s.GotoTrashBox, before.GotoTrashBox);
    QVERIFY(!f.w().moveEdit().isEnabled());
  }
};

}  // namespace
}  // namespace norvane::ui

QTEST_MAIN(norvane::ui::OptionsDialogTest)
#include "OptionsDialogTest.moc"
