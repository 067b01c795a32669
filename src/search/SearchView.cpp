#include "search/SearchView.h"


#include "i18n/Texts.h"

namespace norvane {

const std::array<std::string_view, kColumnCount> kColumnHeadings = {
    "#", "画像名", "サイズ", "日付", "幅", "高", "類似画像名", "画像差", "",
};

namespace {

// The label in the chosen language; the numbers are the same in every one.
std::string ProgressText(std::string_view label, int current, int total) {
  std::string text(Localize(label));
  text += "\n\r";
  text += DecimalText(current);
  text += '/';
  text += DecimalText(total);
  return text;
}

}  // namespace

std::string SearchingStatus(int current, int total) { return ProgressText("検索中", current, total); }

std::string ComparingStatus(int current, int total) { return ProgressText("比較中", current, total); }

std::string InfoText(const FileRecord* record) {
  if (record == nullptr) return {};
  std::string text = record->path();
  text += "\r\n";
  text += record->date.text().view();
  text += "\r\n";
  if (record->width > 0) {
    text += "( ";
    text += DecimalText(record->width);
    text += " * ";
    text += DecimalText(record->height);
    text += " )";
  }
  text += "\r\n";
  text += DecimalText(record->size);
  text += " BYTE ";
  return text;
}

std::optional<int> RecordOfCell(std::string_view cell, std::size_t recordCount) {
  const std::optional<int> position = ReadDecimal(cell);
  if (!position || *position < 0 || static_cast<std::size_t>(*position) >= recordCount) return std::nullopt;
  return position;
}

}  // namespace norvane
