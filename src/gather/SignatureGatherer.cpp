#include "gather/SignatureGatherer.h"

#include <malloc.h>

#include <algorithm>
#include <utility>

namespace norvane {
namespace {

const std::string kNoPath;

std::size_t RingSize(const GatherOptions& options, int lanes) {
  if (options.lookAheadFiles > 0) return options.lookAheadFiles + 1;
  return static_cast<std::size_t>(lanes) + 2 * static_cast<std::size_t>(std::max(options.workers, 1)) + 1;
}

}  // namespace

void ReusePictureMemory() {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  // Pictures are allocated by the workers and freed by the thread that shows
  // them; with an arena per thread every arena would keep spare memory of its
  // own. Large blocks are few, so sharing one arena costs no waiting.
  mallopt(M_ARENA_MAX, 1);
}

SignatureGatherer::SignatureGatherer(std::vector<std::string> paths, const GatherOptions& options)
    : paths_(std::move(paths)),
      plugins_(options.plugins),
      byteBudget_(options.lookAheadBytes),
      hasher_(options.backend) {
  ring_.resize(RingSize(options, hasher_.laneCount()));
  ticketFile_.reserve(paths_.size());
  const int workers = std::max(options.workers, 0);
  threads_.reserve(static_cast<std::size_t>(workers));
  for (int w = 0; w < workers; ++w) threads_.emplace_back([this] { WorkerLoop(); });
}

SignatureGatherer::~SignatureGatherer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

int SignatureGatherer::HardwareWorkers() {
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

const std::string& SignatureGatherer::NextPath() const {
  return next_ < paths_.size() ? paths_[next_] : kNoPath;
}

// A file may be claimed while the ring has room and the held bytes are
// within the budget; with nothing held at all the next file is always
// claimed, however large, so that progress never stalls.
bool SignatureGatherer::CanClaim() const {
  if (stopping_ || claimed_ >= paths_.size()) return false;
  if (claimed_ - next_ + 1 >= ring_.size()) return false;
  return heldBytes_ < byteBudget_ || claimed_ == next_;
}

// One piece of work, chosen under the lock: hashing while the lanes can all
// be kept busy, else decoding the next file, else hashing what is queued
// because no more files can come in now, only until a digest is done, so
// that results flow on and room for the next files comes free early. False
// when there is nothing to do.
bool SignatureGatherer::Work(std::unique_lock<std::mutex>& lock) {
  if (stopping_) return false;
  const std::size_t queued = waiting_.size() + inHasher_;
  if (!hashing_ && queued >= static_cast<std::size_t>(hasher_.laneCount())) {
    Hash(lock, false);
    return true;
  }
  if (CanClaim()) {
    Decode(lock);
    return true;
  }
  if (!hashing_ && queued > 0) {
    Hash(lock, true);
    return true;
  }
  return false;
}

void SignatureGatherer::Decode(std::unique_lock<std::mutex>& lock) {
  const std::size_t index = claimed_++;
  SlotOf(index).state = SlotState::Decoding;
  const std::string& path = paths_[index];
  lock.unlock();

  GatheredFile file;
  file.image = DecodeImageFile(path, plugins_);
  if (file.image != nullptr) file.signature = PrepareSignature(*file.image);
  const bool needsDigest = file.image != nullptr && file.signature.writesDigest &&
                           file.signature.digestBytes >= 0;
  const std::int64_t bytes = file.image != nullptr ? static_cast<std::int64_t>(file.image->PixelBytes()) : 0;

  lock.lock();
  Slot& slot = SlotOf(index);
  slot.file = std::move(file);
  slot.bytes = bytes;
  heldBytes_ += bytes;
  if (needsDigest) {
    slot.state = SlotState::Hashing;
    waiting_.push_back(index);
  } else {
    slot.state = SlotState::Ready;
  }
  changed_.notify_all();
}

// Queues the waiting digests into the hasher and runs it, outside the lock:
// until a lane would idle, or with `drain` until a digest is done.
void SignatureGatherer::Hash(std::unique_lock<std::mutex>& lock, bool drain) {
  hashing_ = true;
  std::vector<std::size_t> submit;
  submit.swap(waiting_);
  inHasher_ += submit.size();
  // The images stay where they are until their slot is taken, which needs
  // the Ready state that only this thread gives them.
  std::vector<Md5Message> messages;
  messages.reserve(submit.size());
  for (std::size_t index : submit) {
    const Slot& slot = SlotOf(index);
    messages.push_back({slot.file.image->Pixels(), static_cast<std::size_t>(slot.file.signature.digestBytes)});
  }
  lock.unlock();

  for (std::size_t k = 0; k < submit.size(); ++k) {
    hasher_.Submit(messages[k]);
    ticketFile_.push_back(submit[k]);
  }
  finished_.clear();
  if (drain) {
    hasher_.RunUntilAnyDone(finished_);
  } else {
    hasher_.Run(finished_);
  }
  std::vector<std::pair<std::size_t, std::string>> texts;
  texts.reserve(finished_.size());
  for (const MultiMd5Hasher::Finished& done : finished_) {
    char text[kDigestTextLength + 1];
    Md5DigestText(done.digest, text);
    texts.emplace_back(ticketFile_[done.ticket], text);
  }

  lock.lock();
  for (auto& [index, text] : texts) {
    Slot& slot = SlotOf(index);
    slot.file.digest = std::move(text);
    slot.state = SlotState::Ready;
  }
  inHasher_ -= texts.size();
  hashing_ = false;
  changed_.notify_all();
}

void SignatureGatherer::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (!Work(lock)) changed_.wait(lock);
  }
}

bool SignatureGatherer::WaitNext(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (next_ >= paths_.size() || threads_.empty()) return true;
  return changed_.wait_for(lock, timeout, [this] { return SlotOf(next_).state == SlotState::Ready; });
}

GatheredFile SignatureGatherer::TakeNext() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (next_ >= paths_.size()) return {};
  const std::size_t index = next_;
  while (SlotOf(index).state != SlotState::Ready) {
    if (threads_.empty()) {
      // Working inline: there is always something to do until the file is
      // ready (it is unclaimed, waiting for the hasher, or in it).
      if (!Work(lock)) break;
    } else {
      changed_.wait(lock);
    }
  }
  Slot& slot = SlotOf(index);
  GatheredFile file;
  if (slot.state == SlotState::Ready) file = std::move(slot.file);
  heldBytes_ -= slot.bytes;
  slot = Slot{};
  ++next_;
  changed_.notify_all();
  return file;
}

}  // namespace norvane
