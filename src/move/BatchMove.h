// The batch move over a result list: every row whose pair differs by at most
// a limit gives up its left image (its own) or its right image (its
// partner). Shared by the window's batch-move dialog and the console.
#pragma once

#include <functional>
#include <vector>

#include "move/MoveAway.h"
#include "scan/FileRecord.h"
#include "search/ResultTable.h"

namespace norvane {

struct BatchMoveResult {
  int moved = 0;              // images moved
  std::vector<bool> removed;  // per row: the row leaves the list
};

// Called now and then with the rows visited so far and the rows in all.
using BatchProgress = std::function<void(int visited, int total)>;

// Visits the rows as they are now from the bottom up. A row qualifies when
// its difference cell holds a number between 0 and `limit` and it names a
// record for the chosen side; its image (side 0: the row's own, side 1: its
// partner) goes to `mover`, in this order. After each image that moved:
// every row whose partner it was shows no partner any more (cells 6 to 8
// emptied) and every record whose partner it was gets partner -1; the moved
// image's row leaves the list (side 0: the visited row, side 1: the first
// row that shows the image as its own); the visited row's record gets
// partner -1. An image that cannot be moved changes nothing.
//
// Rows that leave are only marked in `removed`; the caller takes them out
// (ResultRows::Assign), so that a list control can keep its selection. The
// work is linear in the rows and the moves: a row is never searched for.
BatchMoveResult BatchMove(std::vector<ResultRow>& rows, FileList& records, int limit, int side,
                          const Mover& mover, const BatchProgress& progress = {});

}  // namespace norvane
