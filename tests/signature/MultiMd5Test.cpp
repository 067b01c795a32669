#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>

#include "signature/MultiMd5.h"
#include "support/TestPictures.h"

namespace norvane {
namespace {

// OpenSSL's single-stream MD5 is the reference for every backend.
std::string Reference(const Md5Message& m) {
  char text[kDigestTextLength + 1];
  EXPECT_EQ(PixelDigester().HexDigest(m.data, m.length, text), 0);
  return text;
}

std::string Text(const Md5Digest& digest) {
  char text[kDigestTextLength + 1];
  Md5DigestText(digest, text);
  return text;
}

// Messages are slices of these bytes at odd offsets, so no lane sees an aligned pointer.
const std::vector<std::uint8_t> kPool = test::RandomBytes(2u << 20, 1321);

class MultiMd5Backends : public ::testing::TestWithParam<Md5Backend> {
 protected:
  void SetUp() override {
    if (!Md5BackendAvailable(GetParam())) GTEST_SKIP() << "processor lacks " << Md5BackendName(GetParam());
  }
};

TEST_P(MultiMd5Backends, BatchMatchesTheReferenceAroundBlockBoundaries) {
  // The padding needs a second block once fewer than 9 bytes of the last
  // block are free. Empty messages may come without any bytes at all.
  std::vector<Md5Message> messages(3, Md5Message{nullptr, 0});
  for (std::size_t blocks = 1; blocks <= 40; ++blocks) {
    for (std::size_t delta : {9, 8, 7, 1, 0}) messages.push_back({kPool.data() + 7 * blocks, 64 * blocks - delta});
    messages.push_back({kPool.data() + 11 * blocks, 64 * blocks + 1});
  }
  std::vector<Md5Digest> digests(messages.size());
  Md5Many(messages.data(), messages.size(), digests.data(), GetParam());
  for (std::size_t i = 0; i < messages.size(); ++i) {
    ASSERT_EQ(Text(digests[i]), Reference(messages[i])) << "length " << messages[i].length;
  }
}

TEST_P(MultiMd5Backends, QueueDeliversEveryTicketOnceWhileLanesFinishApart) {
  MultiMd5Hasher hasher(GetParam());
  ASSERT_EQ(hasher.backend(), GetParam());
  // Each message lives in an allocation of exactly its size, freed as soon as
  // its digest is delivered, so that the address sanitizer catches a lane
  // reading past a message's end or touching it after it ended.
  std::map<std::uint64_t, std::unique_ptr<std::uint8_t[]>> buffers;
  std::map<std::uint64_t, std::string> expected;
  std::vector<MultiMd5Hasher::Finished> done;
  const auto submit = [&](std::size_t length) {
    auto buffer = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(length, 1));
    std::memcpy(buffer.get(), kPool.data() + 13 * length % 4096, length);
    const Md5Message message{length == 0 ? nullptr : buffer.get(), length};
    const std::uint64_t ticket = hasher.Submit(message);
    EXPECT_EQ(ticket, expected.size());  // tickets count up from 0
    expected[ticket] = Reference(message);
    buffers[ticket] = std::move(buffer);
  };
  const auto collect = [&] {
    for (const MultiMd5Hasher::Finished& f : done) {
      EXPECT_EQ(buffers.count(f.ticket), 1u) << "ticket " << f.ticket << " unknown or delivered twice";
      EXPECT_EQ(Text(f.digest), expected[f.ticket]) << "ticket " << f.ticket;
      buffers.erase(f.ticket);
    }
    done.clear();
  };
  // With a lane to spare, Run leaves the work for later; RunUntilAnyDone goes
  // on with the busy lanes alone, but only until the shortest is done.
  for (int i = 0; i < hasher.laneCount() - 1; ++i) submit(5000 + 64 * static_cast<std::size_t>(i));
  hasher.Run(done);
  if (hasher.laneCount() > 1) {
    EXPECT_TRUE(done.empty());
    EXPECT_EQ(hasher.Outstanding(), buffers.size());
    hasher.RunUntilAnyDone(done);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].ticket, 0u);
  }
  collect();
  // Then messages from empty to 1 MB in no particular order, with the lanes
  // running in between whenever they are all busy.
  std::vector<std::size_t> lengths = {0, 1u << 20, 55, 64 * 1000 + 56, 300000, 1, 999999, 64, 120,
                                      (1u << 20) - 1, 700001, 4096, 63, 123457, 2, 500000, 65};
  std::shuffle(lengths.begin(), lengths.end(), std::mt19937_64(17));
  for (std::size_t length : lengths) {
    submit(length);
    hasher.Run(done);
    collect();
  }
  hasher.Flush(done);
  collect();
  EXPECT_EQ(hasher.Outstanding(), 0u);
  EXPECT_TRUE(buffers.empty()) << buffers.size() << " messages never delivered";
  // The hasher is reusable after a flush.
  submit(100);
  hasher.Flush(done);
  collect();
  EXPECT_TRUE(buffers.empty());
}

INSTANTIATE_TEST_SUITE_P(, MultiMd5Backends, ::testing::Values(Md5Backend::Scalar, Md5Backend::Avx2, Md5Backend::Avx512),
                         [](const ::testing::TestParamInfo<Md5Backend>& info) { return std::string(Md5BackendName(info.param)); });

}  // namespace
}  // namespace norvane
