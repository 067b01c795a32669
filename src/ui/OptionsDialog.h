// The options dialog: the six options a user may change, edited on a working
// copy that reaches the settings only when the dialog is confirmed.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

#include <QDialog>

#include "settings/Settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace norvane::ui {

// The orderings offered for "左側優先項目", in the order whose position is the
// value of InitialSort. The spaces are ideographic, the dashes full-width.
inline constexpr std::array<std::string_view, 11> kSortItems{
    "なし",         "画像名－順",   "画像名－逆",   "サイズ－小",
    "サイズ－大",   "日付　－古",   "日付　－新",   "幅　　－小",
    "幅　　－大",   "高　　－小",   "高　　－大",
};

// The working copy.
struct OptionValues {
  std::int32_t ThresHold = 100;
  bool EnableCache = true;
  bool EnableConfirm = true;
  bool EnableSubFolder = true;
  bool GotoTrashBox = false;
  std::int32_t InitialSort = 0;  // -1 when no ordering is selected
};

OptionValues OptionsOf(const Settings& settings);
void StoreOptions(const OptionValues& values, Settings& settings);

class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows a message (text, caption); tests answer without a dialog.
  using InformHook = std::function<void(std::string_view, std::string_view)>;

  OptionsDialog(const OptionValues& values, InformHook inform, QWidget* parent = nullptr);

  // The working copy; after OK it holds what the controls said.
  const OptionValues& values() const { return values_; }

  // OK: takes the controls into the working copy and closes; a threshold
  // that is not an integer is reported and the dialog stays open.
  void accept() override;

  QCheckBox& subFolderBox() { return *subFolder_; }
  QCheckBox& confirmBox() { return *confirm_; }
  QCheckBox& cacheBox() { return *cache_; }
  QCheckBox& trashBox() { return *trash_; }
  QLineEdit& thresholdEdit() { return *threshold_; }
  QComboBox& sortBox() { return *sort_; }

 private:
  OptionValues values_;
  InformHook inform_;
  QCheckBox* subFolder_ = nullptr;  // 1022
  QCheckBox* confirm_ = nullptr;    // 1015
  QCheckBox* cache_ = nullptr;      // 1018
  QCheckBox* trash_ = nullptr;      // 1023
  QLineEdit* threshold_ = nullptr;  // 1017
  QComboBox* sort_ = nullptr;       // 1019
};

}  // namespace norvane::ui
