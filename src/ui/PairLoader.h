// The window's picture thread. It decodes the two pictures of the pair a
// window shows, so that choosing a row never holds the window's thread while
// a large picture is decoded, and it frees the pictures the window lets go
// of: handing a picture of tens of megabytes back to the system takes tens
// of milliseconds. Only the latest request matters: one not yet begun when
// a newer one comes is dropped, and the window ignores the results of any but
// its latest ticket.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/DecodedImage.h"
#include "image/PluginReader.h"

namespace norvane::ui {

class PairLoader {
 public:
  struct Result {
    std::uint64_t ticket = 0;
    // Left and right; null for a side without a path or whose file could
    // not be decoded.
    std::shared_ptr<const DecodedImage> images[2];
  };
  using Done = std::function<void(Result)>;

  // `done` runs on the loader's thread for every request it finishes.
  PairLoader(PluginSearchPath plugins, Done done);
  // Waits for the picture being decoded, if any; later requests are dropped.
  ~PairLoader();
  PairLoader(const PairLoader&) = delete;
  PairLoader& operator=(const PairLoader&) = delete;

  // Decodes the files at `left` and `right` (bytes as the scan found them;
  // "" for nothing) and returns the ticket its result will carry.
  std::uint64_t Request(std::string left, std::string right);
  // Drops the caller's reference to `image` on the loader's thread, so that
  // the picture, when no one else holds it, is freed there.
  void Release(std::shared_ptr<const DecodedImage> image);

 private:
  void Loop();

  const PluginSearchPath plugins_;
  const Done done_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t ticket_ = 0;
  bool pending_ = false;
  std::string paths_[2];
  std::vector<std::shared_ptr<const DecodedImage>> released_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace norvane::ui
