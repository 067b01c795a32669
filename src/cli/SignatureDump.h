// `norvane-cli --signature`: what the decoder and the signature make of
// single files, for the times one image behaves oddly.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace norvane::cli {

// Decodes each file and writes one tab-separated line per file to `out`:
// the path as given, the load result code, the pixel kind, width, height,
// the digest (empty when none), then the 96 grid values in cell order as the
// signature extraction writes them into a fresh record, each with "%.17g"
// ("nan" for not-a-number). A file that does not load prints its code, kind,
// width and height 0, an empty digest and no grid values. Returns 0 when
// every file loaded, 1 otherwise.
int DumpSignatures(const std::vector<std::string>& files, std::FILE* out);

// "%.17g" of a double, which reads back as the same double; "nan" for every
// not-a-number whatever its sign.
std::string ExactDouble(double value);

}  // namespace norvane::cli
