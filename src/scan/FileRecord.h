// One image file found by the folder scan, and the list of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "signature/Signature.h"

namespace norvane {

// A plain value: copying a record copies every field.
struct FileRecord {
  std::int32_t index = 0;  // position in the list when it was first shown
  std::string folder;      // folder text exactly as handed to the scan
  std::string name;        // file name with its extension
  std::string path;        // folder + "/" + name
  std::int32_t size = 0;   // low 32 bits of the file size
  std::string date;        // local modification time, "YYYY/MM/DD hh:mm:ss"
  std::int32_t width = 0;  // 0 while unknown or when the file cannot be decoded
  std::int32_t height = 0;
  std::string digest;      // MD5 of the decoded pixels, 32 hex characters, or empty
  SignatureGrid grid{};
  std::int32_t partner = 0;     // position of the most similar record, -1 for none
  std::int32_t difference = 0;  // difference to partner
};

using FileList = std::vector<FileRecord>;

}  // namespace norvane
