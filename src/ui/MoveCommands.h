// What moving an image does to the files, the records and the result list;
// shared by the single move of the main window and the batch move.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <QString>

#include "scan/FileRecord.h"

namespace norvane::ui {

class ResultModel;

struct MoveOutcome {
  bool ok = false;
  std::string errorText;  // the system's reason when not ok
};

// Moves one image away: into the desktop's trash when `toTrash` is set,
// otherwise into `moveFolder` under a free name. A file the trash refuses
// stays where it is; nothing is ever deleted instead.
MoveOutcome MoveAway(const std::string& path, bool toTrash, const std::string& moveFolder);

// Moves one image away; the window binds the trash choice and the folder.
using Mover = std::function<MoveOutcome(const std::string& path)>;

// Called after records[moved] has gone: every row whose partner column names
// it shows no partner any more, and every record whose partner it was gets
// partner -1, so the list and the records agree.
void ForgetPartner(ResultModel& rows, FileList& records, int moved);

// The batch move over the rows as they are now, bottom row first: every row
// whose difference is between 0 and `limit` gives up its own image (side 0)
// or its partner (side 1). Files that cannot be moved are skipped. Returns
// the number of images moved.
int BatchMove(ResultModel& rows, FileList& records, int limit, int side, const Mover& mover);

// An integer typed by the user: optional blanks around an optionally signed
// run of digits that fits 32 bits. Anything else is no integer.
std::optional<int> ParseInteger(const QString& text);

// Shown when an integer field holds something else.
inline constexpr const char* kNotIntegerText = "整数を入力してください。";

// The caption of messages that name no caption of their own.
QString ApplicationName();

}  // namespace norvane::ui
