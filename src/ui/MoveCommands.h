// What moving one image does to the records and the result list, and the
// small helpers the window's move commands share.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <QString>

#include "move/MoveAway.h"
#include "scan/FileRecord.h"

namespace norvane::ui {

class ResultModel;

// Called after records[moved] has gone: every row whose partner column names
// it shows no partner any more, and every record whose partner it was gets
// partner -1, so the list and the records agree.
void ForgetPartner(ResultModel& rows, FileList& records, int moved);

// An integer typed by the user: optional blanks around an optionally signed
// run of digits that fits 32 bits. Anything else is no integer.
std::optional<int> ParseInteger(const QString& text);

// Shown when an integer field holds something else.
inline constexpr const char* kNotIntegerText = "整数を入力してください。";

// The caption of messages that name no caption of their own.
QString ApplicationName();

}  // namespace norvane::ui
