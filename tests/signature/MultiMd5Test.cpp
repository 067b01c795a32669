#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "signature/MultiMd5.h"
#include "signature/PixelDigest.h"

namespace norvane {
namespace {

// OpenSSL's single-stream MD5 is the reference for every backend.
std::string Reference(const std::uint8_t* data, std::size_t length) {
  char text[kDigestTextLength + 1];
  EXPECT_EQ(PixelDigester().HexDigest(data, length, text), 0);
  return text;
}

std::string Text(const Md5Digest& digest) {
  char text[kDigestTextLength + 1];
  Md5DigestText(digest, text);
  return text;
}

// Random bytes shared by the tests; messages are slices of it starting at odd
// offsets, so no lane sees an aligned pointer.
const std::vector<std::uint8_t>& Pool() {
  static const std::vector<std::uint8_t> pool = [] {
    std::vector<std::uint8_t> bytes(2u << 20);
    std::mt19937_64 rng(1321);
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
      const std::uint64_t word = rng();
      std::memcpy(bytes.data() + i, &word, 8);
    }
    return bytes;
  }();
  return pool;
}

Md5Message Slice(std::size_t offset, std::size_t length) {
  EXPECT_LE(offset + length, Pool().size());
  return {Pool().data() + offset, length};
}

// Hashes the messages with Md5Many and compares each digest with OpenSSL's.
void ExpectBatchMatches(const std::vector<Md5Message>& messages, Md5Backend backend) {
  std::vector<Md5Digest> digests(messages.size());
  Md5Many(messages.data(), messages.size(), digests.data(), backend);
  for (std::size_t i = 0; i < messages.size(); ++i) {
    ASSERT_EQ(Text(digests[i]), Reference(messages[i].data, messages[i].length))
        << "message " << i << " of length " << messages[i].length << ", backend " << Md5BackendName(backend);
  }
}

// Every message delivered once, under its own ticket, with OpenSSL's digest.
void ExpectDelivered(const std::vector<MultiMd5Hasher::Finished>& done, const std::vector<Md5Message>& messages) {
  ASSERT_EQ(done.size(), messages.size());
  std::vector<bool> seen(messages.size(), false);
  for (const MultiMd5Hasher::Finished& finished : done) {
    ASSERT_LT(finished.ticket, messages.size());
    EXPECT_FALSE(seen[finished.ticket]) << "ticket " << finished.ticket << " delivered twice";
    seen[finished.ticket] = true;
    const Md5Message& message = messages[finished.ticket];
    EXPECT_EQ(Text(finished.digest), Reference(message.data, message.length)) << "length " << message.length;
  }
}

class MultiMd5Backends : public ::testing::TestWithParam<Md5Backend> {
 protected:
  void SetUp() override {
    if (!Md5BackendAvailable(GetParam())) GTEST_SKIP() << "processor lacks " << Md5BackendName(GetParam());
  }
  int Lanes() const { return Md5LaneCount(GetParam()); }
};

TEST_P(MultiMd5Backends, LengthsAroundBlockBoundaries) {
  // The padding needs a second block once fewer than 9 bytes of the last
  // block are free (remainders 56 to 63).
  std::vector<Md5Message> messages;
  for (std::size_t blocks = 1; blocks <= 40; ++blocks) {
    for (std::size_t delta : {9, 8, 7, 1, 0}) messages.push_back(Slice(7 * blocks, 64 * blocks - delta));
    messages.push_back(Slice(11 * blocks, 64 * blocks + 1));
  }
  ExpectBatchMatches(messages, GetParam());
  // An empty message may come without any bytes at all.
  std::vector<Md5Message> empty(3, Md5Message{nullptr, 0});
  ExpectBatchMatches(empty, GetParam());
}

TEST_P(MultiMd5Backends, QueueDeliversEveryTicketOnceWhileLanesFinishApart) {
  // Seventeen messages from empty to 1 MB in no particular order, each in an
  // allocation of exactly its size so that any read past its end is caught by
  // the address sanitizer; each is freed as soon as its digest is delivered,
  // so a lane touching a message after it ended is caught too.
  std::mt19937_64 rng(17);
  std::vector<std::size_t> lengths = {0, 1u << 20, 55, 64 * 1000 + 56, 300000, 1, 999999, 64, 120,
                                      (1u << 20) - 1, 700001, 4096, 63, 123457, 2, 500000, 65};
  std::shuffle(lengths.begin(), lengths.end(), rng);
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
  std::vector<std::string> expected;
  MultiMd5Hasher hasher(GetParam());
  ASSERT_EQ(hasher.backend(), GetParam());
  std::vector<MultiMd5Hasher::Finished> done;
  std::map<std::uint64_t, std::string> got;
  auto collect = [&] {
    for (const MultiMd5Hasher::Finished& finished : done) {
      ASSERT_LT(finished.ticket, buffers.size());
      ASSERT_TRUE(got.emplace(finished.ticket, Text(finished.digest)).second) << "ticket delivered twice";
      buffers[finished.ticket].reset();
    }
    done.clear();
  };
  // Messages arrive one by one, as from a pipeline, with the lanes running in
  // between whenever they are all busy.
  for (std::size_t length : lengths) {
    buffers.push_back(std::make_unique<std::uint8_t[]>(std::max<std::size_t>(length, 1)));
    std::memcpy(buffers.back().get(), Pool().data() + 13 * buffers.size(), length);
    expected.push_back(Reference(buffers.back().get(), length));
    const Md5Message message{length == 0 ? nullptr : buffers.back().get(), length};
    EXPECT_EQ(hasher.Submit(message), buffers.size() - 1);
    hasher.Run(done);
    collect();
  }
  hasher.Flush(done);
  collect();
  EXPECT_EQ(hasher.Outstanding(), 0u);
  ASSERT_EQ(got.size(), lengths.size());
  for (std::size_t i = 0; i < lengths.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "length " << lengths[i];
}

TEST_P(MultiMd5Backends, RunWaitsForFullLanesAndResumesWhereItStopped) {
  MultiMd5Hasher hasher(GetParam());
  std::vector<MultiMd5Hasher::Finished> done;
  const int lanes = hasher.laneCount();
  // With a lane to spare, Run leaves the work for later...
  std::vector<Md5Message> messages;
  for (int i = 0; i < lanes - 1; ++i) messages.push_back(Slice(31 * i + 1, 5000 + 64 * i));
  for (const Md5Message& message : messages) hasher.Submit(message);
  hasher.Run(done);
  if (lanes > 1) {
    EXPECT_TRUE(done.empty());
    EXPECT_EQ(hasher.Outstanding(), messages.size());
  }
  // RunUntilAnyDone goes on with the busy lanes alone, but only until the
  // shortest message is done.
  if (lanes > 1) {
    hasher.RunUntilAnyDone(done);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].ticket, 0u);
    EXPECT_EQ(hasher.Outstanding(), messages.size() - 1);
  }
  // ...until more messages than lanes arrive; the lanes then keep running
  // until one lacks work, and a later Flush finishes what was in flight.
  for (int i = 0; i < 2 * lanes + 3; ++i) {
    messages.push_back(Slice(97 * i + 2, 1 + 37 * i));
    hasher.Submit(messages.back());
  }
  hasher.Run(done);
  EXPECT_FALSE(done.empty());
  if (lanes > 1) {
    EXPECT_LT(done.size(), messages.size());
  }
  hasher.Flush(done);
  ExpectDelivered(done, messages);
  // A hasher is reusable after a flush.
  hasher.Submit(Slice(0, 100));
  done.clear();
  hasher.Flush(done);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(Text(done[0].digest), Reference(Pool().data(), 100));
}

INSTANTIATE_TEST_SUITE_P(, MultiMd5Backends,
                         ::testing::Values(Md5Backend::Scalar, Md5Backend::Avx2, Md5Backend::Avx512),
                         [](const ::testing::TestParamInfo<Md5Backend>& info) {
                           return std::string(Md5BackendName(info.param));
                         });

}  // namespace
}  // namespace norvane
