// What the search needs from a window: the operations through which it shows
// progress and results and takes the user's answers. The main window, the
// console front end and the tests each implement them; the search logic calls
// nothing else of a front end.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Decimal.h"
#include "image/DecodedImage.h"
#include "scan/FileRecord.h"

namespace norvane {

// Sides of the preview area.
inline constexpr int kLeftSide = 0;
inline constexpr int kRightSide = 1;

// Columns of the result list. Every cell holds text; columns 0 and 8 are
// hidden and link a row to its record and to its partner's record.
enum ListColumn : int {
  kColumnPosition = 0,     // position of the row's record in records, "%d"
  kColumnName = 1,         // name
  kColumnSize = 2,         // size, "%d"
  kColumnDate = 3,         // date
  kColumnWidth = 4,        // width, "%d"
  kColumnHeight = 5,       // height, "%d"
  kColumnPartnerName = 6,  // partner's name, empty without partner
  kColumnDifference = 7,   // difference, "%d", empty without partner
  kColumnPartner = 8,      // partner's position in records, "%d", empty without partner
};
inline constexpr int kColumnCount = 9;

// Column headings, in column order.
extern const std::array<std::string_view, kColumnCount> kColumnHeadings;

// Texts the search shows. Line breaks in the progress texts are LF followed
// by CR, as the status field has always shown them.
inline constexpr std::string_view kStartCaption = "開始";
inline constexpr std::string_view kStopCaption = "中止";
inline constexpr std::string_view kComparingText = "比較中";
inline constexpr std::string_view kStopQuestion = "処理を中止します。";
inline constexpr std::string_view kConfirmCaption = "確認";
inline constexpr std::string_view kNoImagesText = "画像ファイルが見つかりません。";
inline constexpr std::string_view kInformationCaption = "情報";
inline constexpr std::string_view kFolderTooLongText =
    "検索フォルダのパスが長すぎます（4095バイトまで）。";

// "検索中\n\r%d/%d": gathering signatures, file `current` of `total`.
std::string SearchingStatus(int current, int total);
// "比較中\n\r%d/%d": comparing, record `current` of `total`.
std::string ComparingStatus(int current, int total);

// The information text of a side for a record, or "" for none:
//   "%s\r\n%s\r\n( %d * %d )\r\n%d BYTE "  path, date, width, height, size
//   "%s\r\n%s\r\n\r\n%d BYTE "             path, date, size (width <= 0)
// The text is built without a fixed buffer, so a long path is never cut.
std::string InfoText(const FileRecord* record);

// Rows name records only through the hidden columns: kColumnPosition holds
// the position in records of the row's own record, kColumnPartner that of its
// partner, both as "%d" texts (DecimalText). This reads such a cell back: the
// record position, or nullopt when the cell holds no number or one outside
// 0 .. recordCount - 1 (an empty partner cell, a row out of step with
// records).
std::optional<int> RecordOfCell(std::string_view cell, std::size_t recordCount);

class SearchView {
 public:
  virtual ~SearchView() = default;

  // Takes the folder texts of the window's edit boxes into the settings.
  virtual void CommitEdits() = 0;
  // Caption and enabled state of the start button.
  virtual void SetStartButton(std::string_view caption, bool enabled) = 0;
  // Enables or disables the options and batch-move commands together.
  virtual void EnableCommands(bool enabled) = 0;
  // Text of the two-line status field.
  virtual void SetStatusText(std::string_view text) = 0;
  // Modal question with Yes and No, No the default; true only for Yes.
  virtual bool AskYesNo(std::string_view text, std::string_view caption) = 0;
  // Modal information message with an OK button.
  virtual void Inform(std::string_view text, std::string_view caption) = 0;
  // Discards both pane images, empties both information texts, repaints.
  virtual void ClearPanes() = 0;
  // Sets the information text of a side (InfoText of the record, "" for null).
  virtual void SetInfoText(int side, const FileRecord* record) = 0;
  // Replaces the left pane's image by `image`, the record's file as the
  // search decoded it (null when the file could not be decoded), and returns
  // it. The image stays owned by the view and valid until the next call that
  // changes the left pane.
  virtual const DecodedImage* SetLeftImage(const FileRecord& record,
                                           std::unique_ptr<DecodedImage> image) = 0;
  // Has the left pane drawn again, without erasing the background.
  virtual void RepaintLeftPane() = 0;

  // The result list. Rows count from 0 in the list's current order; an
  // operation on a row or column that does not exist does nothing ("" read).
  virtual void ListDeleteAll() = 0;
  virtual void ListInsertRow(int row, std::string_view text) = 0;
  virtual void ListSetText(int row, int column, std::string_view text) = 0;
  virtual std::string ListGetText(int row, int column) = 0;
  virtual void ListDeleteRow(int row) = 0;
  virtual int ListRowCount() = 0;
  // Keeps the selected row marked while the list does not have the focus.
  virtual void ListKeepSelectionVisible() = 0;
  // Notes n as the number of rows the search produced, resets the column
  // sort directions and sorts the rows ascending by difference, rows without
  // a difference last.
  virtual void SortListByDifference(int n) = 0;
  // Focuses the list, selects row 0 and shows its pair in the panes.
  virtual void SelectFirstRow() = 0;

  // Handles every event already waiting and returns at once, never waiting.
  // Other handlers of the front end (a second press of Start, a close
  // request) run here while a search is under way.
  virtual void PumpMessages() = 0;

  // Returns once `ready` has answered true; `ready(ms)` waits at most ms
  // milliseconds for its answer. The search calls it before it takes a file
  // that other threads decode. A window keeps handling its events in
  // between, so that it can be moved, repainted or stopped while a large
  // picture is decoded; the search itself shows nothing here and honours a
  // stop only at its usual checks. By default this simply waits.
  virtual void WaitUntil(const std::function<bool(int)>& ready) {
    while (!ready(1000)) {
    }
  }
};

}  // namespace norvane
