#include "ui/PairLoader.h"

#include <utility>

namespace norvane::ui {

PairLoader::PairLoader(PluginSearchPath plugins, Done done)
    : plugins_(std::move(plugins)), done_(std::move(done)), thread_([this] { Loop(); }) {}

PairLoader::~PairLoader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::uint64_t PairLoader::Request(std::string left, std::string right) {
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ticket = ++ticket_;
    paths_[0] = std::move(left);
    paths_[1] = std::move(right);
    pending_ = true;
  }
  changed_.notify_all();
  return ticket;
}

void PairLoader::Release(std::shared_ptr<const DecodedImage> image) {
  if (image == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_.push_back(std::move(image));
  }
  changed_.notify_all();
}

void PairLoader::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || pending_ || !released_.empty(); });
    if (stopping_) return;
    if (!released_.empty()) {
      std::vector<std::shared_ptr<const DecodedImage>> released;
      released.swap(released_);
      lock.unlock();
      released.clear();
      lock.lock();
      continue;
    }
    pending_ = false;
    Result result;
    result.ticket = ticket_;
    const std::string paths[2] = {paths_[0], paths_[1]};
    lock.unlock();
    for (int side = 0; side < 2; ++side) {
      if (paths[side].empty()) continue;
      result.images[side] = DecodeImageFile(paths[side], plugins_);
      // A newer request makes the rest of this one useless.
      std::lock_guard<std::mutex> check(mutex_);
      if (pending_ || stopping_) break;
    }
    lock.lock();
    if (stopping_) return;
    if (pending_) continue;
    lock.unlock();
    done_(std::move(result));
    lock.lock();
  }
}

}  // namespace norvane::ui
