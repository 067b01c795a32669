#include "search/SearchView.h"

#include <cstdint>

namespace norvane {

const std::array<std::string_view, kColumnCount> kColumnHeadings = {
    "#", "画像名", "サイズ", "日付", "幅", "高", "類似画像名", "画像差", "",
};

std::string DecimalText(long long value) { return std::to_string(value); }

namespace {

std::string ProgressText(std::string_view label, int current, int total) {
  std::string text(label);
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
  std::string text = record->path;
  text += "\r\n";
  text += record->date;
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

std::optional<int> ReadDecimal(std::string_view text) {
  std::size_t i = 0;
  auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  // Accumulate the magnitude, saturating just past the 32-bit range.
  constexpr std::int64_t kCap = std::int64_t{1} << 32;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kCap) value = kCap;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int>(value);
}

std::optional<int> RecordOfCell(std::string_view cell, std::size_t recordCount) {
  const std::optional<int> position = ReadDecimal(cell);
  if (!position || *position < 0 || static_cast<std::size_t>(*position) >= recordCount) return std::nullopt;
  return position;
}

}  // namespace norvane
