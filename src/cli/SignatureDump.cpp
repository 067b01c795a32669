#include "cli/SignatureDump.h"

#include <cmath>

#include "cli/ConsoleView.h"
#include "image/DecodedImage.h"
#include "scan/FileRecord.h"
#include "signature/SignatureExtractor.h"

namespace norvane::cli {

std::string ExactDouble(double value) {
  if (std::isnan(value)) return "nan";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

int DumpSignatures(const std::vector<std::string>& files, std::FILE* out) {
  int status = 0;
  for (const std::string& path : files) {
    DecodedImage image;
    const LoadResult result = image.LoadImageFile(path);
    std::string line = EscapeField(path);
    line += '\t';
    line += std::to_string(static_cast<int>(result));
    if (result != LoadResult::LoadOk) {
      line += "\t0\t0\t0\t\n";
      std::fputs(line.c_str(), out);
      status = 1;
      continue;
    }
    FileRecord record;
    SignatureExtractor::Extract(record, image);
    line += '\t' + std::to_string(static_cast<unsigned>(image.pixelKind));
    line += '\t' + std::to_string(image.width);
    line += '\t' + std::to_string(image.height);
    line += '\t' + EscapeField(record.digest.text());
    for (const SignatureCell& cell : record.grid.unpacked()) {
      for (double v : {cell.meanY, cell.meanCb, cell.meanCr, cell.sdevY, cell.sdevCb, cell.sdevCr}) {
        line += '\t';
        line += ExactDouble(v);
      }
    }
    line += '\n';
    std::fputs(line.c_str(), out);
  }
  return status;
}

}  // namespace norvane::cli
