#include "image/PluginReader.h"

#include <dlfcn.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "image/ImageFile.h"
#include "image/PluginContract.h"

namespace norvane {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
// A block handed over by a plug-in.
using MallocBlock = std::unique_ptr<void, FreeDeleter>;

// A file's content mapped read-only into memory for the plug-in, unmapped
// when it goes away. The pages are the file's own (shared with the page
// cache and dropped under memory pressure), so a file of any size costs no
// memory of its own: only what the plug-in really decodes does.
//
// A file cut short by another program while it is mapped makes a read of
// the lost pages raise SIGBUS. Catching it would need a process-wide signal
// handler around every plug-in call, on several threads at once; images are
// rarely truncated in place (programs write a new file and rename it), so
// the mapping is used as it is.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile() {
    if (data_ != nullptr) ::munmap(data_, size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Maps the regular file at `path`.
  LoadResult Map(const std::string& path) {
    UniqueFile file;
    std::int64_t fileSize = 0;
    if (const LoadResult r = OpenImageFile(path, file, fileSize); r != LoadResult::LoadOk) return r;
    // The plug-in takes the length as a long.
    if (static_cast<std::uint64_t>(fileSize) > static_cast<std::uint64_t>(LONG_MAX)) return LoadResult::Unsupported;
    if (fileSize == 0) return LoadResult::LoadOk;  // nothing to map: an empty buffer
    void* data = ::mmap(nullptr, static_cast<std::size_t>(fileSize), PROT_READ, MAP_PRIVATE, ::fileno(file.get()), 0);
    if (data == MAP_FAILED) return errno == ENOMEM ? LoadResult::OutOfMemory : LoadResult::ReadError;
    // The mapping stays valid once the file is closed.
    data_ = data;
    size_ = static_cast<std::size_t>(fileSize);
    return LoadResult::LoadOk;
  }

  // The content; a valid pointer also for an empty file.
  const char* data() const { return data_ != nullptr ? static_cast<const char*>(data_) : ""; }
  std::size_t size() const { return size_; }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

// Bytes of one stored row: the pixels' bits rounded up to whole 32-bit words.
// For 1, 4, 8 and 24 bits this is ((width + 7) / 8 + 3), ((width + 1) / 2 + 3),
// (width + 3) and (3 * width + 3), each rounded down to a multiple of 4.
std::int64_t StoredRowLength(std::int64_t width, int bitsPerPixel) { return (width * bitsPerPixel + 31) / 32 * 4; }

// Converts the plug-in's bottom-up rows into the top-down Bgr24 picture.
// Every size has been checked by the caller.
void ConvertRows(const std::uint8_t* table, const std::uint8_t* bits, int bitsPerPixel, std::int64_t rowLength,
                 DecodedImage& image) {
  const std::int64_t width = image.width;
  const std::int64_t height = image.height;
  std::uint8_t* out = image.colour.data();
  for (std::int64_t i = 0; i < height; ++i) {
    // The plug-in's rows run bottom-up: output row i is stored row height - 1 - i.
    const std::uint8_t* row = bits + (height - 1 - i) * rowLength;
    if (bitsPerPixel == 24) {
      std::memcpy(out, row, static_cast<std::size_t>(3 * width));
      out += 3 * width;
      continue;
    }
    for (std::int64_t j = 0; j < width; ++j) {
      unsigned index = 0;
      switch (bitsPerPixel) {
        case 1: index = (row[j / 8] >> (7 - j % 8)) & 1u; break;
        case 4: index = (j % 2 == 0) ? row[j / 2] >> 4 : row[j / 2] & 0x0Fu; break;
        default: index = row[j]; break;
      }
      const std::uint8_t* entry = table + 4 * index;
      *out++ = entry[0];
      *out++ = entry[1];
      *out++ = entry[2];
    }
  }
}

// Checks what the plug-in handed over against what its header promises and
// converts it. `info` is non-null; `bits` may be null only for a picture
// without rows.
LoadResult ConvertPicture(const void* info, const void* bits, DecodedImage& image) {
  const std::size_t infoSize = malloc_usable_size(const_cast<void*>(info));
  if (infoSize < NORVANE_INFO_HEADER_SIZE) return LoadResult::ReadError;
  const auto* header = static_cast<const std::uint8_t*>(info);
  const std::int32_t width = GetLeI32(header + NORVANE_INFO_WIDTH);
  const std::int32_t height = GetLeI32(header + NORVANE_INFO_HEIGHT);
  const int bitsPerPixel = GetLe16(header + NORVANE_INFO_BIT_COUNT);

  // Rows stored top row first are a variant this reader does not handle.
  if (height < 0) return LoadResult::Unsupported;
  if (width < 0) return LoadResult::BadFormat;
  if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24) {
    return LoadResult::Unsupported;
  }
  const LoadResult dimensions = CheckDimensions(width, height);
  if (dimensions != LoadResult::LoadOk) return dimensions;

  // Indices are read from whole bytes, so any index the rows can hold lies
  // below 1 << bitsPerPixel: with the whole table present none reads past it.
  const std::size_t colours = bitsPerPixel <= 8 ? std::size_t{1} << bitsPerPixel : 0;
  if (infoSize < NORVANE_INFO_HEADER_SIZE + 4 * colours) return LoadResult::ReadError;
  const std::int64_t rowLength = StoredRowLength(width, bitsPerPixel);
  const std::int64_t needed = rowLength * height;  // below 2^33: width * height <= kMaxPixels
  if (needed > 0) {
    if (bits == nullptr) return LoadResult::ReadError;
    if (malloc_usable_size(const_cast<void*>(bits)) < static_cast<std::size_t>(needed)) return LoadResult::ReadError;
  }

  const LoadResult allocated = image.AllocatePixels(width, height, PixelKind::Bgr24);
  if (allocated != LoadResult::LoadOk) {
    image.ReleasePixels();
    return LoadResult::OutOfMemory;
  }
  if (needed > 0) {
    ConvertRows(header + NORVANE_INFO_HEADER_SIZE, static_cast<const std::uint8_t*>(bits), bitsPerPixel, rowLength,
                image);
  }
  return LoadResult::LoadOk;
}

// The directory holding the running program, or empty when unknown.
std::string ExecutableDirectory() {
  std::string buffer(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return {};
  buffer.resize(static_cast<std::size_t>(n));
  const std::size_t slash = buffer.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : buffer.substr(0, slash);
}

}  // namespace

PluginSearchPath DefaultPluginSearchPath() {
  PluginSearchPath search;
  const std::string exeDir = ExecutableDirectory();
  if (!exeDir.empty()) {
    search.directories.push_back(exeDir);
    search.directories.push_back(exeDir + "/../lib/norvane");
  }
  search.systemSearch = true;
  return search;
}

const PluginSearchPath& ProgramPluginSearchPath() {
  // Initialised once under the language's guard, then only read.
  static const PluginSearchPath search = DefaultPluginSearchPath();
  return search;
}

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

PluginLibrary::PluginLibrary(PluginLibrary&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

PluginLibrary& PluginLibrary::operator=(PluginLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

PluginLibrary PluginLibrary::Open(const std::string& fileName, const PluginSearchPath& search) {
  PluginLibrary library;
  // RTLD_NOW: a plug-in with unresolved symbols counts as missing instead of
  // failing later in the middle of a call. RTLD_LOCAL: its symbols (and those
  // of the image libraries it pulls in) never bind to anything else.
  constexpr int kMode = RTLD_NOW | RTLD_LOCAL;
  for (const std::string& dir : search.directories) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + fileName;
    library.handle_ = ::dlopen(candidate.c_str(), kMode);
    if (library.handle_ != nullptr) return library;
  }
  // A name without a slash makes the loader use its own search.
  if (search.systemSearch && fileName.find('/') == std::string::npos) {
    library.handle_ = ::dlopen(fileName.c_str(), kMode);
  }
  return library;
}

void* PluginLibrary::Symbol(const char* name) const {
  return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

PluginFlags DetectPlugins() { return DetectPlugins(ProgramPluginSearchPath()); }

PluginFlags DetectPlugins(const PluginSearchPath& search) {
  PluginFlags flags;
  flags.searchPath = search;
  {
    const PluginLibrary first = PluginLibrary::Open("ifgif.spi", search);
    const PluginLibrary second = PluginLibrary::Open("ifgif2.spi", search);
    flags.gifAvailable = static_cast<bool>(first) || static_cast<bool>(second);
  }
  const PluginLibrary png = PluginLibrary::Open("ifpng.spi", search);
  flags.pngAvailable = static_cast<bool>(png);
  return flags;
}

LoadResult ReadPluginImage(DecodedImage& image, const std::string& path, const std::string& typeKey) {
  return ReadPluginImage(image, path, typeKey, ProgramPluginSearchPath());
}

LoadResult ReadPluginImage(DecodedImage& image, const std::string& path, const std::string& typeKey,
                           const PluginSearchPath& search) {
  PluginLibrary library;
  if (typeKey == "gif") {
    library = PluginLibrary::Open("ifgif.spi", search);
    if (!library) library = PluginLibrary::Open("ifgif2.spi", search);
  } else if (typeKey == "png") {
    library = PluginLibrary::Open("ifpng.spi", search);
  }
  if (!library) return LoadResult::Unsupported;
  const auto getPicture = reinterpret_cast<GetPictureFunction>(library.Symbol(NORVANE_PLUGIN_ENTRY));
  if (getPicture == nullptr) return LoadResult::Unsupported;

  int status = 0;
  void* info = nullptr;
  void* bits = nullptr;
  {
    MappedFile file;
    const LoadResult read = file.Map(path);
    if (read != LoadResult::LoadOk) return read;
    status = getPicture(file.data(), static_cast<long>(file.size()), NORVANE_PLUGIN_FLAG_MEMORY, &info, &bits,
                        nullptr, 0);
  }
  // On failure the plug-in hands over nothing; on success both blocks are
  // ours. They are declared after `library` and so are freed before it.
  if (status != 0) return LoadResult::ReadError;
  const MallocBlock infoBlock(info);
  const MallocBlock bitsBlock(bits);
  if (!infoBlock) return LoadResult::ReadError;
  return ConvertPicture(infoBlock.get(), bitsBlock.get(), image);
}

}  // namespace norvane
