// The small window with the program's icon, name and version.
#pragma once

#include <QDialog>

namespace norvane::ui {

inline constexpr const char* kAboutCaption = "Norvane のﾊﾞｰｼﾞｮﾝ情報";
inline constexpr const char* kAboutMenuText = "Norvane のﾊﾞｰｼﾞｮﾝ情報(&A)...";
inline constexpr const char* kVersionText = "Norvane.exe Version 1.04";
inline constexpr const char* kNoticeText = "(C) 2026 Norvane の開発者たち";

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace norvane::ui
