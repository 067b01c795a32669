// MD5 of several independent messages at once. MD5 is a serial chain within
// one message, so a single image cannot use vector registers well; several
// images can, one per 32-bit lane (16 lanes with AVX2 or AVX-512). The
// instruction set is chosen at run time from the processor's features, with
// OpenSSL's single-stream MD5 as the fallback. Digests are the ordinary MD5
// of each message, identical whatever the backend.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "signature/PixelDigest.h"

namespace norvane {

namespace md5detail {
// Widest lane count of any kernel; lane-sliced state arrays use this stride.
inline constexpr int kMaxLanes = 16;
inline constexpr std::size_t kBlockBytes = 64;
}  // namespace md5detail

// A message to hash. The bytes must stay valid until its digest is delivered.
struct Md5Message {
  const std::uint8_t* data = nullptr;
  std::size_t length = 0;
};

struct Md5Digest {
  std::array<std::uint8_t, 16> bytes{};
  friend bool operator==(const Md5Digest&, const Md5Digest&) = default;
};

enum class Md5Backend {
  Scalar,  // OpenSSL, one message after another
  Avx2,
  Avx512,
};

// "scalar", "avx2" or "avx512".
const char* Md5BackendName(Md5Backend backend);
// True when this processor (and operating system) can run the backend.
bool Md5BackendAvailable(Md5Backend backend);
// The widest available backend; decided once per process.
Md5Backend ChosenBackend();
// Messages a backend hashes side by side: 1 or 16.
int Md5LaneCount(Md5Backend backend);

// The digest as 32 lower-case hexadecimal characters and a terminating zero,
// the same text PixelDigester::HexDigest gives for the same bytes.
void Md5DigestText(const Md5Digest& digest, char (&out)[kDigestTextLength + 1]);

// Digests of `count` messages into out[0 .. count). The second form forces a
// backend; one the processor lacks is replaced by the scalar backend.
void Md5Many(const Md5Message* messages, std::size_t count, Md5Digest* out);
void Md5Many(const Md5Message* messages, std::size_t count, Md5Digest* out, Md5Backend backend);

// A queue of messages feeding the lanes: each lane takes the next queued
// message as soon as its own one ends, so messages of different lengths keep
// the lanes busy. Not thread-safe: one thread owns a hasher (a pipeline with
// several producers hands messages to the owner). It keeps pointers into its
// own buffers, hence neither copyable nor movable.
class MultiMd5Hasher {
 public:
  struct Finished {
    std::uint64_t ticket = 0;
    Md5Digest digest;
  };

  explicit MultiMd5Hasher(Md5Backend backend = ChosenBackend());
  MultiMd5Hasher(const MultiMd5Hasher&) = delete;
  MultiMd5Hasher& operator=(const MultiMd5Hasher&) = delete;

  // The backend in use (the scalar one when the requested one is unavailable).
  Md5Backend backend() const { return backend_; }
  int laneCount() const { return laneCount_; }

  // Queues a message and returns its ticket: 0, 1, 2 ... in submission order.
  std::uint64_t Submit(Md5Message message);

  // Hashes while every lane has a message, appending finished digests to
  // `done` (in the order they finish, which need not be submission order).
  // Returns once a lane would stay idle for want of queued messages; the
  // messages in flight keep their progress for the next call.
  void Run(std::vector<Finished>& done);

  // Hashes with whatever lanes are busy until at least one message ends (or
  // none is left), so that a caller waiting for results never waits for a
  // whole batch.
  void RunUntilAnyDone(std::vector<Finished>& done);

  // Hashes every submitted message to its end.
  void Flush(std::vector<Finished>& done);

  // Messages submitted whose digest has not been delivered yet.
  std::size_t Outstanding() const { return queue_.size() + busyLanes_; }

 private:
  struct Queued {
    std::uint64_t ticket;
    Md5Message message;
  };
  struct Lane {
    bool busy = false;
    bool inTail = false;  // hashing the padded last block(s)
    std::uint64_t ticket = 0;
    std::uint64_t length = 0;            // of the whole message
    const std::uint8_t* next = nullptr;  // the next block to hash
    std::size_t blocksLeft = 0;          // blocks left in the current part
    alignas(64) std::uint8_t tail[2 * md5detail::kBlockBytes] = {};
  };

  enum class Mode { WhileFull, UntilAnyDone, All };
  void Hash(Mode mode, std::vector<Finished>& done);
  void Start(int lane, const Queued& queued);
  void StartTail(Lane& lane, const std::uint8_t* rest, std::size_t restLength, std::uint64_t totalLength);
  void LaneDigest(int lane, Md5Digest& out) const;
  void Advance(int lane, std::size_t blocks, std::vector<Finished>& done);

  Md5Backend backend_;
  int laneCount_;
  std::uint64_t nextTicket_ = 0;
  int busyLanes_ = 0;
  std::deque<Queued> queue_;
  std::array<Lane, md5detail::kMaxLanes> lanes_{};
  // Word w of lane l is state_[w * kMaxLanes + l].
  alignas(64) std::uint32_t state_[4 * md5detail::kMaxLanes] = {};
};

}  // namespace norvane
