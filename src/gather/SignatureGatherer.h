// Decodes image files and computes their signatures ahead of the thread that
// shows them, handing the results over strictly in the order of the files.
//
// Worker threads claim files in order within a bounded look-ahead (a number
// of files and a number of decoded bytes), decode each and compute its grid.
// The pixel digests are hashed side by side in the lanes of a multi-buffer
// MD5: whichever worker finds enough images waiting takes the hasher for a
// while. Without worker threads the consumer's own thread does the same work
// inside TakeNext, decoding several files ahead so that the lanes fill.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/DecodedImage.h"
#include "image/PluginReader.h"
#include "signature/MultiMd5.h"
#include "signature/SignatureExtractor.h"

namespace norvane {

// One file's result.
struct GatheredFile {
  std::unique_ptr<DecodedImage> image;  // null when the file could not be decoded
  PreparedSignature signature;          // meaningful only with an image
  std::string digest;                   // digest text of the signature's digest bytes
};

struct GatherOptions {
  // Threads that decode and hash; 0 means the consumer's thread does it all.
  int workers = 0;
  // Decoded images held at once, beyond the one being taken; 0 chooses the
  // hasher's lanes plus two per worker.
  std::size_t lookAheadFiles = 0;
  // Pixel bytes held at once; a file is always decoded when nothing is held.
  std::int64_t lookAheadBytes = std::int64_t{64} << 20;
  Md5Backend backend = ChosenBackend();
  // Where GIF and PNG reader plug-ins are loaded from. The gatherer keeps its
  // own copy, which its workers only read.
  PluginSearchPath plugins = ProgramPluginSearchPath();
};

// Has the process's allocator keep the memory of pictures it frees for the
// next ones, up to a bound, instead of handing every picture's pages back to
// the system and faulting them in again for the next file (a search decodes
// thousands of pictures of a few megabytes each), all threads drawing on one
// pool. Pictures above 32 MB still get memory of their own. For a program's
// main, before any thread starts.
void ReusePictureMemory();

class SignatureGatherer {
 public:
  SignatureGatherer(std::vector<std::string> paths, const GatherOptions& options);
  // Stops the workers; results not taken are discarded.
  ~SignatureGatherer();
  SignatureGatherer(const SignatureGatherer&) = delete;
  SignatureGatherer& operator=(const SignatureGatherer&) = delete;

  // The path the next TakeNext delivers, or "" when every file was taken.
  const std::string& NextPath() const;
  // Waits for the result of NextPath() and hands it over. Past the last file
  // it returns an empty result.
  GatheredFile TakeNext();
  // Whether TakeNext can hand over the next result without waiting for a
  // worker, after waiting at most `timeout` for it to become so. Without
  // workers TakeNext does the work itself and this answers true at once; so
  // it does past the last file.
  bool WaitNext(std::chrono::milliseconds timeout);

  // Threads for a search by default: the hardware threads, at least 1.
  static int HardwareWorkers();

 private:
  enum class SlotState { Free, Decoding, Hashing, Ready };
  struct Slot {
    SlotState state = SlotState::Free;
    GatheredFile file;
    std::int64_t bytes = 0;
  };

  Slot& SlotOf(std::size_t index) { return ring_[index % ring_.size()]; }
  bool CanClaim() const;
  bool Work(std::unique_lock<std::mutex>& lock);
  void Decode(std::unique_lock<std::mutex>& lock);
  void Hash(std::unique_lock<std::mutex>& lock, bool drain);
  void WorkerLoop();

  const std::vector<std::string> paths_;
  const PluginSearchPath plugins_;
  const std::int64_t byteBudget_;
  std::vector<Slot> ring_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;     // the next file to take
  std::size_t claimed_ = 0;  // the next file to decode
  std::int64_t heldBytes_ = 0;
  std::vector<std::size_t> waiting_;  // decoded files whose digest is not yet queued
  bool hashing_ = false;              // a thread is working the hasher
  std::size_t inHasher_ = 0;          // files queued in the hasher, not yet finished
  bool stopping_ = false;

  // Touched only by the thread that set hashing_.
  MultiMd5Hasher hasher_;
  std::vector<std::size_t> ticketFile_;  // file index of every ticket
  std::vector<MultiMd5Hasher::Finished> finished_;

  std::vector<std::thread> threads_;
};

}  // namespace norvane
