// The result list as JSON Lines: one object per row with named fields.
#pragma once

#include <string>
#include <string_view>

#include "scan/FileRecord.h"
#include "search/ResultTable.h"

namespace norvane::cli {

// `bytes` as a JSON string literal, quotes included. Valid UTF-8 is written
// as it stands (quote, backslash and control characters escaped). A byte
// that is not part of a valid UTF-8 sequence, 0xXY, is written as the escape
// "\udcXY": a lone low surrogate, which no valid UTF-8 text can contain, so
// the original bytes can always be recovered (Python's "surrogateescape").
std::string JsonString(std::string_view bytes);

// One row as a JSON object on one line (without the line break): position,
// name, path, size, date, width, height, partner, partner_name,
// partner_path and difference. Numbers are JSON numbers; a row without
// partner has null for the four partner fields. Paths come from `records`
// by the row's positions.
std::string JsonRow(const ResultRow& row, const FileList& records);

}  // namespace norvane::cli
