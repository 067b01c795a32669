#include "search/ImageSlots.h"

#include <utility>

namespace norvane {

namespace {
bool ValidSlot(int slot) { return slot == ImageSlots::kLeft || slot == ImageSlots::kRight; }
}  // namespace

int ImageSlots::LoadSlotImage(int slot, const FileRecord& record) {
  if (!ValidSlot(slot)) return 0;
  slots_[slot] = DecodeImageFile(record.path());
  return 0;
}

void ImageSlots::Put(int slot, std::shared_ptr<const DecodedImage> image) {
  if (ValidSlot(slot)) slots_[slot] = std::move(image);
}

void ImageSlots::Clear(int slot) {
  if (ValidSlot(slot)) slots_[slot].reset();
}

const DecodedImage* ImageSlots::Get(int slot) const {
  return ValidSlot(slot) ? slots_[slot].get() : nullptr;
}

std::shared_ptr<const DecodedImage> ImageSlots::Share(int slot) const {
  return ValidSlot(slot) ? slots_[slot] : nullptr;
}

}  // namespace norvane
