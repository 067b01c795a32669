#include "signature/MultiMd5.h"
#include "signature/MultiMd5Kernels.h"

#include "base/CpuFeatures.h"
#include "base/LittleEndian.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>

namespace norvane {

using md5detail::kBlockBytes;
using md5detail::kMaxLanes;

namespace md5detail {
namespace {

inline std::uint32_t Rotl(std::uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }


}  // namespace

namespace {

template <int I>
inline void ScalarStep(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                       const std::uint32_t (&x)[16]) {
  std::uint32_t f;
  if constexpr (I < 16) {
    f = d ^ (b & (c ^ d));
  } else if constexpr (I < 32) {
    f = (b & d) | (c & ~d);
  } else if constexpr (I < 48) {
    f = b ^ c ^ d;
  } else {
    f = c ^ (b | ~d);
  }
  a = b + Rotl(a + x[WordIndex(I)] + kSine[I] + f, Shift(I));
}

template <std::size_t... I>
inline void ScalarSteps(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d,
                        const std::uint32_t (&x)[16], std::index_sequence<I...>) {
  // The four words take turns as the one being replaced: a, d, c, b.
  ((I % 4 == 0   ? ScalarStep<I>(a, b, c, d, x)
    : I % 4 == 1 ? ScalarStep<I>(d, a, b, c, x)
    : I % 4 == 2 ? ScalarStep<I>(c, d, a, b, x)
                 : ScalarStep<I>(b, c, d, a, x)),
   ...);
}

}  // namespace

void CompressScalar(std::uint32_t (&abcd)[4], const std::uint8_t* blocks, std::size_t count) {
  for (std::size_t n = 0; n < count; ++n, blocks += kBlockBytes) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = GetLe32(blocks + 4 * i);
    std::uint32_t a = abcd[0], b = abcd[1], c = abcd[2], d = abcd[3];
    ScalarSteps(a, b, c, d, x, std::make_index_sequence<64>{});
    abcd[0] += a;
    abcd[1] += b;
    abcd[2] += c;
    abcd[3] += d;
  }
}

}  // namespace md5detail

namespace {

// Below this many busy lanes a vector kernel wastes more than it gains over
// hashing each busy lane on its own; this happens while the last long
// messages of a batch finish.
int VectorMinLanes(Md5Backend backend) { return backend == Md5Backend::Avx512 ? 3 : 4; }

// Writes the padded end of a message: the bytes after its last whole block,
// 0x80, zeros, and the message length in bits as a 64-bit little-endian
// number closing the block. Returns the number of blocks written (1 or 2).
std::size_t PadTail(std::uint8_t (&tail)[2 * kBlockBytes], const std::uint8_t* rest, std::size_t restLength,
                    std::uint64_t totalLength) {
  std::memset(tail, 0, sizeof tail);
  if (restLength > 0) std::memcpy(tail, rest, restLength);
  tail[restLength] = 0x80;
  const std::size_t blocks = restLength < kBlockBytes - 8 ? 1 : 2;
  // The length is counted modulo 2^64 bits.
  const std::uint64_t bits = totalLength * 8;
  for (int i = 0; i < 8; ++i) tail[blocks * kBlockBytes - 8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  return blocks;
}

void WordsToDigest(const std::uint32_t (&abcd)[4], Md5Digest& out) {
  for (int w = 0; w < 4; ++w) {
    for (int i = 0; i < 4; ++i) out.bytes[4 * w + i] = static_cast<std::uint8_t>(abcd[w] >> (8 * i));
  }
}

// The portable whole-message MD5, used when OpenSSL's is unavailable.
void PortableMd5(const Md5Message& message, Md5Digest& out) {
  std::uint32_t abcd[4];
  std::copy(std::begin(md5detail::kInitialState), std::end(md5detail::kInitialState), abcd);
  const std::size_t body = message.length / kBlockBytes;
  if (body > 0) md5detail::CompressScalar(abcd, message.data, body);
  alignas(64) std::uint8_t tail[2 * kBlockBytes];
  const std::size_t tailBlocks =
      PadTail(tail, message.data + body * kBlockBytes, message.length % kBlockBytes, message.length);
  md5detail::CompressScalar(abcd, tail, tailBlocks);
  WordsToDigest(abcd, out);
}

void SingleStreamMd5(const Md5Message& message, Md5Digest& out) {
  // EVP_Digest wants a valid pointer even for zero bytes.
  static const std::uint8_t kNothing = 0;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdLength = 0;
  if (EVP_Digest(message.length == 0 ? &kNothing : message.data, message.length, md, &mdLength, EVP_md5(),
                 nullptr) == 1 &&
      mdLength == out.bytes.size()) {
    std::memcpy(out.bytes.data(), md, mdLength);
    return;
  }
  PortableMd5(message, out);
}

Md5Backend Usable(Md5Backend backend) { return Md5BackendAvailable(backend) ? backend : Md5Backend::Scalar; }

alignas(64) const std::uint8_t kIdleBlock[kBlockBytes] = {};

}  // namespace

const char* Md5BackendName(Md5Backend backend) {
  switch (backend) {
    case Md5Backend::Avx2: return "avx2";
    case Md5Backend::Avx512: return "avx512";
    case Md5Backend::Scalar: break;
  }
  return "scalar";
}

bool Md5BackendAvailable(Md5Backend backend) {
#if defined(NORVANE_MD5_X86)
  switch (backend) {
    case Md5Backend::Avx2: return CpuHasAvx2();
    case Md5Backend::Avx512: return CpuHasAvx512();
    case Md5Backend::Scalar: return true;
  }
  return false;
#else
  return backend == Md5Backend::Scalar;
#endif
}

Md5Backend ChosenBackend() {
  static const Md5Backend chosen = [] {
    if (Md5BackendAvailable(Md5Backend::Avx512)) return Md5Backend::Avx512;
    if (Md5BackendAvailable(Md5Backend::Avx2)) return Md5Backend::Avx2;
    return Md5Backend::Scalar;
  }();
  return chosen;
}

int Md5LaneCount(Md5Backend backend) {
  switch (backend) {
    case Md5Backend::Avx2: return 16;  // two registers of eight
    case Md5Backend::Avx512: return 16;
    case Md5Backend::Scalar: break;
  }
  return 1;
}

void Md5DigestText(const Md5Digest& digest, char (&out)[kDigestTextLength + 1]) {
  DigestText(digest.bytes.data(), out);
}

void Md5Many(const Md5Message* messages, std::size_t count, Md5Digest* out) {
  Md5Many(messages, count, out, ChosenBackend());
}

void Md5Many(const Md5Message* messages, std::size_t count, Md5Digest* out, Md5Backend backend) {
  backend = Usable(backend);
  if (backend == Md5Backend::Scalar || count == 1) {
    for (std::size_t i = 0; i < count; ++i) SingleStreamMd5(messages[i], out[i]);
    return;
  }
  // Longest first: the short messages then fill the lanes freed while the
  // long ones run, and the batch ends with lanes of similar remaining length.
  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t x, std::size_t y) { return messages[x].length > messages[y].length; });
  MultiMd5Hasher hasher(backend);
  for (std::size_t index : order) hasher.Submit(messages[index]);
  std::vector<MultiMd5Hasher::Finished> done;
  done.reserve(count);
  hasher.Flush(done);
  for (const MultiMd5Hasher::Finished& finished : done) out[order[finished.ticket]] = finished.digest;
}

MultiMd5Hasher::MultiMd5Hasher(Md5Backend backend)
    : backend_(Usable(backend)), laneCount_(Md5LaneCount(backend_)) {}

std::uint64_t MultiMd5Hasher::Submit(Md5Message message) {
  queue_.push_back({nextTicket_, message});
  return nextTicket_++;
}

void MultiMd5Hasher::Run(std::vector<Finished>& done) { Hash(Mode::WhileFull, done); }

void MultiMd5Hasher::RunUntilAnyDone(std::vector<Finished>& done) { Hash(Mode::UntilAnyDone, done); }

void MultiMd5Hasher::Flush(std::vector<Finished>& done) { Hash(Mode::All, done); }

void MultiMd5Hasher::Start(int index, const Queued& queued) {
  Lane& lane = lanes_[index];
  for (int w = 0; w < 4; ++w) state_[w * kMaxLanes + index] = md5detail::kInitialState[w];
  lane.busy = true;
  lane.ticket = queued.ticket;
  ++busyLanes_;
  const std::size_t body = queued.message.length / kBlockBytes;
  if (body > 0) {
    lane.inTail = false;
    lane.next = queued.message.data;
    lane.blocksLeft = body;
    lane.length = queued.message.length;
  } else {
    StartTail(lane, queued.message.data, queued.message.length, queued.message.length);
  }
}

void MultiMd5Hasher::StartTail(Lane& lane, const std::uint8_t* rest, std::size_t restLength,
                               std::uint64_t totalLength) {
  lane.inTail = true;
  lane.next = lane.tail;
  lane.blocksLeft = PadTail(lane.tail, rest, restLength, totalLength);
}

void MultiMd5Hasher::Advance(int index, std::size_t blocks, std::vector<Finished>& done) {
  Lane& lane = lanes_[index];
  lane.blocksLeft -= blocks;
  lane.next += blocks * kBlockBytes;
  if (lane.blocksLeft > 0) return;
  if (!lane.inTail) {
    StartTail(lane, lane.next, lane.length % kBlockBytes, lane.length);
    return;
  }
  std::uint32_t abcd[4];
  for (int w = 0; w < 4; ++w) abcd[w] = state_[w * kMaxLanes + index];
  Finished finished;
  finished.ticket = lane.ticket;
  WordsToDigest(abcd, finished.digest);
  done.push_back(finished);
  lane.busy = false;
  lane.next = nullptr;
  --busyLanes_;
}

void MultiMd5Hasher::Hash(Mode mode, std::vector<Finished>& done) {
  const std::size_t doneBefore = done.size();
  if (backend_ == Md5Backend::Scalar) {
    // One lane: every queued message runs to its end in turn.
    while (!queue_.empty() && !(mode == Mode::UntilAnyDone && done.size() > doneBefore)) {
      Finished finished;
      finished.ticket = queue_.front().ticket;
      SingleStreamMd5(queue_.front().message, finished.digest);
      queue_.pop_front();
      done.push_back(finished);
    }
    return;
  }
  for (;;) {
    for (int l = 0; l < laneCount_ && !queue_.empty(); ++l) {
      if (lanes_[l].busy) continue;
      Start(l, queue_.front());
      queue_.pop_front();
    }
    if (busyLanes_ == 0 || (mode == Mode::WhileFull && busyLanes_ < laneCount_) ||
        (mode == Mode::UntilAnyDone && done.size() > doneBefore)) {
      return;
    }
    // Every busy lane can take this many blocks before one of them needs
    // attention (a new part, or a digest to hand out).
    std::size_t blocks = SIZE_MAX;
    for (int l = 0; l < laneCount_; ++l) {
      if (lanes_[l].busy) blocks = std::min(blocks, lanes_[l].blocksLeft);
    }
    if (busyLanes_ < VectorMinLanes(backend_)) {
      for (int l = 0; l < laneCount_; ++l) {
        if (!lanes_[l].busy) continue;
        std::uint32_t abcd[4];
        for (int w = 0; w < 4; ++w) abcd[w] = state_[w * kMaxLanes + l];
        md5detail::CompressScalar(abcd, lanes_[l].next, blocks);
        for (int w = 0; w < 4; ++w) state_[w * kMaxLanes + l] = abcd[w];
      }
    } else {
      const std::uint8_t* pointers[kMaxLanes];
      std::size_t steps[kMaxLanes];
      for (int l = 0; l < laneCount_; ++l) {
        pointers[l] = lanes_[l].busy ? lanes_[l].next : kIdleBlock;
        steps[l] = lanes_[l].busy ? kBlockBytes : 0;
      }
#if defined(NORVANE_MD5_X86)
      if (backend_ == Md5Backend::Avx512) {
        md5detail::CompressAvx512(state_, pointers, steps, blocks);
      } else {
        md5detail::CompressAvx2(state_, pointers, steps, blocks);
      }
#endif
    }
    for (int l = 0; l < laneCount_; ++l) {
      if (lanes_[l].busy) Advance(l, blocks, done);
    }
  }
}

}  // namespace norvane
