#include "cli/JsonOutput.h"

#include <cstdint>
#include <optional>

#include "base/Decimal.h"

namespace norvane::cli {

namespace {

// Length of the valid UTF-8 sequence at the start of `s`, or 0. Overlong
// forms, surrogates and code points above U+10FFFF are not valid.
std::size_t Utf8SequenceLength(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

void AppendEscape(std::string& out, unsigned code) {
  constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
}

// Cells hold "%d" texts; anything else (an empty partner cell) is no number.
std::optional<int> CellNumber(const std::string& cell) { return ParseWholeInteger(cell); }

std::string NumberOrNull(const std::string& cell) {
  const std::optional<int> value = CellNumber(cell);
  return value ? std::to_string(*value) : "null";
}

// The path of the record a position cell names, as a JSON value.
std::string PathOf(const std::string& cell, const FileList& records) {
  const std::optional<int> position = CellNumber(cell);
  if (!position || *position < 0 || static_cast<std::size_t>(*position) >= records.size()) return "null";
  return JsonString(records[static_cast<std::size_t>(*position)].path());
}

}  // namespace

std::string JsonString(std::string_view bytes) {
  std::string out = "\"";
  while (!bytes.empty()) {
    const std::size_t length = Utf8SequenceLength(bytes);
    if (length == 0) {
      AppendEscape(out, 0xDC00u | static_cast<unsigned char>(bytes.front()));
      bytes.remove_prefix(1);
      continue;
    }
    const char c = bytes.front();
    if (length > 1) {
      out.append(bytes.substr(0, length));
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      AppendEscape(out, static_cast<unsigned char>(c));
    } else {
      out += c;
    }
    bytes.remove_prefix(length);
  }
  out += '"';
  return out;
}

std::string JsonRow(const ResultRow& row, const FileList& records) {
  const auto cell = [&](int column) -> const std::string& { return row[static_cast<std::size_t>(column)]; };
  const bool hasPartner = CellNumber(cell(kColumnPartner)).has_value();
  std::string out = "{\"position\":" + NumberOrNull(cell(kColumnPosition));
  out += ",\"name\":" + JsonString(cell(kColumnName));
  out += ",\"path\":" + PathOf(cell(kColumnPosition), records);
  out += ",\"size\":" + NumberOrNull(cell(kColumnSize));
  out += ",\"date\":" + JsonString(cell(kColumnDate));
  out += ",\"width\":" + NumberOrNull(cell(kColumnWidth));
  out += ",\"height\":" + NumberOrNull(cell(kColumnHeight));
  out += ",\"partner\":" + NumberOrNull(cell(kColumnPartner));
  out += ",\"partner_name\":" + (hasPartner ? JsonString(cell(kColumnPartnerName)) : std::string("null"));
  out += ",\"partner_path\":" + (hasPartner ? PathOf(cell(kColumnPartner), records) : std::string("null"));
  out += ",\"difference\":" + (hasPartner ? NumberOrNull(cell(kColumnDifference)) : std::string("null"));
  out += '}';
  return out;
}

}  // namespace norvane::cli
