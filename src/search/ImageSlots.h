// The two pictures a search view shows side by side: the left one the search
// hands over while it gathers signatures, and the pair of the selected row.
#pragma once

#include <array>
#include <memory>

#include "image/DecodedImage.h"
#include "scan/FileRecord.h"

namespace norvane {

class ImageSlots {
 public:
  static constexpr int kLeft = 0;
  static constexpr int kRight = 1;

  // Decodes the record's file into a new image and puts it into `slot`,
  // replacing what the slot held. A failed load leaves the slot empty.
  // Returns 0 in every case.
  int LoadSlotImage(int slot, const FileRecord& record);

  // Puts an image decoded elsewhere into `slot` (null empties it).
  void Put(int slot, std::shared_ptr<const DecodedImage> image);

  // Empties one slot.
  void Clear(int slot);

  // The image of a slot, or null when the slot is empty.
  const DecodedImage* Get(int slot) const;
  // The same, shared: a window's pane keeps the picture it shows alive until
  // it is told of the next one, even when the slot has moved on.
  std::shared_ptr<const DecodedImage> Share(int slot) const;

 private:
  std::array<std::shared_ptr<const DecodedImage>, 2> slots_;
};

}  // namespace norvane
