// One image file found by the folder scan, and the list of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scan/PackedGrid.h"
#include "scan/RecordText.h"
#include "signature/Signature.h"

namespace norvane {

// A plain value: copying a record copies every field. The folder text is
// shared by the records of one folder, a short name is held inline, the
// date and the digest are packed in their usual shapes, and the grid in
// fewer bytes than its doubles, so that a large list costs few allocations
// and little memory.
struct FileRecord {
  std::int32_t index = 0;  // position in the list when it was first shown
  std::int32_t size = 0;   // low 32 bits of the file size
  SharedText folder;       // folder text exactly as handed to the scan
  NameField name;          // file name with its extension
  DateField date;          // local modification time, "YYYY/MM/DD hh:mm:ss"
  PackedGrid grid{};       // the colour statistics, exactly
  std::int32_t width = 0;  // 0 while unknown or when the file cannot be decoded
  std::int32_t height = 0;
  DigestField digest;      // MD5 of the decoded pixels, 32 hex characters, or empty
  std::int32_t partner = 0;     // position of the most similar record, -1 for none
  std::int32_t difference = 0;  // difference to partner

  // The path every operation on the file uses, folder + "/" + name: formed
  // when needed rather than held, which spares a heap block per record.
  std::string path() const {
    std::string text;
    text.reserve(folder.size() + 1 + name.size());
    return text.append(folder.str()).append("/").append(name);
  }
};
static_assert(sizeof(FileRecord) <= sizeof(PackedGrid) + 80);

using FileList = std::vector<FileRecord>;

}  // namespace norvane
