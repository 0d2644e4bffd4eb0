#include "digest/md5_lanes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "digest/digest_file.h"
#include "digest/md5_lane_driver.h"
#include "digest/md5_transforms.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Engine {
  const char* name;
  Md5Level level;
  // Set for the emulated AVX-512 transform, which runs on any machine.
  Md5Transform emulated;
};

void PrintTo(const Engine& engine, std::ostream* out) { *out << engine.name; }

// Every message has bytes of its own, so a digest that lands in another message's place shows.
std::vector<Bytes> RandomMessages(const std::vector<size_t>& lengths, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<Bytes> messages;
  for (size_t length : lengths) {
    Bytes& bytes = messages.emplace_back(length);
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(generator());
  }
  return messages;
}

std::string BufferHex(const Bytes& message) {
  unsigned char digest[kMd5DigestSize];
  Md5Buffer(message.data(), message.size(), digest);
  return FormatDigestHex(digest);
}

class Md5LanesTest : public testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    const Engine& engine = GetParam();
    if (engine.emulated != nullptr) {
      m_Kernel = {engine.level, Md5LaneCount(engine.level), engine.emulated};
    } else if (Md5SupportedLevel(engine.level) != engine.level) {
      GTEST_SKIP() << "this machine lacks " << Md5LevelName(engine.level);
    } else {
      m_Kernel = Md5KernelFor(engine.level);
    }
  }

  void ExpectDigestsOfMessages(const std::vector<size_t>& lengths, unsigned seed) {
    const std::vector<Bytes> messages = RandomMessages(lengths, seed);
    std::vector<std::span<const unsigned char>> views(messages.begin(), messages.end());
    std::vector<Md5Digest> digests(messages.size());
    Md5DigestMessages(m_Kernel, views, digests);
    for (size_t i = 0; i < messages.size(); ++i)
      ASSERT_EQ(FormatDigestHex(digests[i].data()), BufferHex(messages[i]))
          << "message " << i << " of " << messages.size() << ", " << lengths[i] << " bytes";
  }

  Md5Kernel m_Kernel{};
};

// Md5DigestMessages on the driver: from 1 to 16 messages of one length, around the edges of the
// padding and of a block, so that all lanes end together and some lanes are idle; and one long
// message beside short ones, which goes on alone at the end.
TEST_P(Md5LanesTest, EveryMessageSetMatchesMd5Buffer) {
  for (size_t count = 1; count <= kMd5MaxLanes; ++count) {
    for (size_t length : {0, 55, 56, 63, 64, 65, 119, 120, 128, 129, 1000, 4096}) {
      SCOPED_TRACE(testing::Message() << count << " messages of " << length << " bytes");
      ExpectDigestsOfMessages(std::vector<size_t>(count, length), static_cast<unsigned>(count));
    }
  }
  ExpectDigestsOfMessages({64, 100000, 64, 128, 55, 192, 64, 3000, 64, 1, 640}, 3);
}

// Every context starts a few blocks below a length where its bit count passes a power of two:
// 2^32 bits (512 MiB, where the low word carries into the high one), 2^35 (4 GiB) and 2^64 (where
// it wraps), and ends the same as Md5Append from the same start, with the same digest.
TEST_P(Md5LanesTest, AppendBlocksEqualsMd5AppendPastEveryBitCountBoundary) {
  constexpr size_t kBlocks = 5;
  constexpr std::uint64_t kBoundaries[] = {std::uint64_t{1} << 32, std::uint64_t{1} << 35, 0};
  const std::vector<Bytes> data =
      RandomMessages(std::vector<size_t>(kMd5MaxLanes, kBlocks * kMd5BlockSize), 6);
  // Up to kMd5MaxLanes contexts: beyond the kernel's lane count they take turns; the others are
  // left alone.
  for (size_t used = 1; used <= kMd5MaxLanes; ++used) {
    std::vector<Md5Context> contexts(kMd5MaxLanes);
    for (size_t i = 0; i < kMd5MaxLanes; ++i) {
      std::memset(&contexts[i], 0x5a, sizeof contexts[i]);
      Md5Init(contexts[i]);
      Md5Append(contexts[i], data[i].data(), static_cast<int>(kMd5BlockSize * (i % 3)));
      const std::uint64_t bits = kBoundaries[i % 3] - (i % (kBlocks + 1)) * kMd5BlockSize * 8;
      contexts[i].bitCount[0] = static_cast<std::uint32_t>(bits);
      contexts[i].bitCount[1] = static_cast<std::uint32_t>(bits >> 32);
    }
    std::vector<Md5Context> expected = contexts;
    std::vector<Md5Context*> pointers;
    std::vector<const unsigned char*> blocks;
    for (size_t i = 0; i < used; ++i) {
      Md5Append(expected[i], data[i].data(), static_cast<int>(kBlocks * kMd5BlockSize));
      pointers.push_back(&contexts[i]);
      blocks.push_back(data[i].data());
    }
    Md5AppendBlocks(m_Kernel, pointers, blocks, kBlocks);
    for (size_t i = 0; i < kMd5MaxLanes; ++i) {
      SCOPED_TRACE(testing::Message() << "context " << i << " with " << used << " in use");
      EXPECT_EQ(std::memcmp(&contexts[i], &expected[i], sizeof contexts[i]), 0);
      Md5Digest digest, expectedDigest;
      Md5Finish(contexts[i], digest.data());
      Md5Finish(expected[i], expectedDigest.data());
      EXPECT_EQ(digest, expectedDigest);
    }
  }
}

// A message in a driver's lane and the chunk of it fed last.
struct Feeding {
  size_t message = 0;
  size_t fed = 0;
  Bytes chunk;
};

// Feeds a waiting lane the next chunk of its message, of any size: none, less than a block or
// many blocks. The chunk fed before is overwritten first, as a reused read buffer is.
void FeedChunk(CMd5LaneDriver& lanes, int lane, Feeding& feed, const Bytes& message,
               std::mt19937& random) {
  const size_t size = std::min<size_t>(random() % 3 == 0 ? 64 * (random() % 20) : random() % 300,
                                       message.size() - feed.fed);
  std::fill(feed.chunk.begin(), feed.chunk.end(), 0xee);
  feed.chunk.assign(message.begin() + static_cast<long>(feed.fed),
                    message.begin() + static_cast<long>(feed.fed + size));
  feed.fed += size;
  lanes.Feed(lane, feed.chunk.data(), size, feed.fed == message.size());
}

// The driver as the digest queue uses it, with every lane count up to twice the widest kernel's
// and one more: messages submitted, fed in chunks, stepped, taken and dropped in a random order,
// and a lane refilled as soon as it is free.
TEST_P(Md5LanesTest, DriverInAnyOrderOfCallsMatchesMd5Buffer) {
  std::mt19937 random(9);
  for (int laneCount = 1; laneCount <= 2 * kMd5MaxLanes + 1; ++laneCount) {
    SCOPED_TRACE(testing::Message() << laneCount << " lanes");
    std::vector<size_t> lengths(6 * static_cast<size_t>(laneCount));
    for (size_t& length : lengths) length = random() % 4 == 0 ? random() % 130 : random() % 5000;
    const std::vector<Bytes> messages = RandomMessages(lengths, random());
    std::vector<Feeding> feeding(static_cast<size_t>(laneCount));
    std::vector<std::string> got(messages.size());
    CMd5LaneDriver lanes(m_Kernel, laneCount);
    size_t next = 0;
    int occupied = 0;
    while (next < messages.size() || occupied > 0) {
      for (size_t count = random() % 4; count > 0 && occupied < laneCount; --count) {
        if (next == messages.size()) break;
        const int lane = lanes.Submit(next);
        feeding[static_cast<size_t>(lane)] = {next++, 0, {}};
        ++occupied;
      }
      for (int lane = 0; lane < laneCount; ++lane) {
        if (!lanes.IsWaiting(lane) || random() % 4 == 0) continue;
        Feeding& feed = feeding[static_cast<size_t>(lane)];
        if (random() % 50 != 0) {
          FeedChunk(lanes, lane, feed, messages[feed.message], random);
          continue;
        }
        got[feed.message] = "dropped";
        lanes.Drop(lane);
        --occupied;
      }
      size_t message;
      Md5Digest digest;
      while (lanes.TakeFinished(message, digest)) {
        got[message] = FormatDigestHex(digest.data());
        --occupied;
      }
      ASSERT_EQ(lanes.Occupied(), occupied);
      const bool couldStep = lanes.CanStep();
      ASSERT_EQ(lanes.Step() > 0, couldStep);
    }
    for (size_t i = 0; i < messages.size(); ++i) {
      if (got[i] != "dropped") {
        EXPECT_EQ(got[i], BufferHex(messages[i])) << "message " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, Md5LanesTest,
    testing::Values(Engine{"portable", Md5Level::kPortable, nullptr},
                    Engine{"avx2", Md5Level::kAvx2, nullptr},
                    Engine{"avx512", Md5Level::kAvx512, nullptr},
                    Engine{"avx512_emulated", Md5Level::kAvx512, Md5TransformAvx512Emulated}),
    [](const testing::TestParamInfo<Engine>& info) { return info.param.name; });

// The level from what the processor says and what the system saves: a vector level needs both.
TEST(Md5LevelTest, TheLevelNeedsTheInstructionsAndTheSystemSavingTheirRegisters) {
  constexpr unsigned kOsxsaveAvx = 3u << 27;
  constexpr unsigned kAvx2 = 1u << 5;
  constexpr unsigned kAvx512 = kAvx2 | 1u << 16;
  struct Case {
    const char* machine;
    Md5CpuReport report;
    Md5Level level;
  };
  const Case cases[] = {
      {"no x86", {0, 0, 0, 0}, Md5Level::kPortable},
      {"AVX2, YMM saved", {13, kOsxsaveAvx, kAvx2, 0x07}, Md5Level::kAvx2},
      {"AVX2, a system without XSAVE", {13, 1u << 28, kAvx2, 0}, Md5Level::kPortable},
      {"AVX2, only XMM saved", {13, kOsxsaveAvx, kAvx2, 0x03}, Md5Level::kPortable},
      {"AVX2 without AVX", {13, 1u << 27, kAvx2, 0x07}, Md5Level::kPortable},
      {"leaf 7 past the highest leaf", {6, kOsxsaveAvx, kAvx512, 0xe7}, Md5Level::kPortable},
      {"AVX-512, ZMM saved", {13, kOsxsaveAvx, kAvx512, 0xe7}, Md5Level::kAvx512},
      {"AVX-512, only YMM saved", {13, kOsxsaveAvx, kAvx512, 0x07}, Md5Level::kAvx2},
      {"AVX-512, no upper 16 ZMM", {13, kOsxsaveAvx, kAvx512, 0x67}, Md5Level::kAvx2},
      {"AVX-512, no opmask", {13, kOsxsaveAvx, kAvx512, 0xc7}, Md5Level::kAvx2},
      {"AVX-512, ZMM but no YMM saved", {13, kOsxsaveAvx, kAvx512, 0xe3}, Md5Level::kPortable},
      {"AVX-512F without AVX2", {13, kOsxsaveAvx, 1u << 16, 0xe7}, Md5Level::kPortable},
  };
  for (const Case& c : cases) EXPECT_EQ(Md5LevelFor(c.report), c.level) << c.machine;

  const Md5Level detected = Md5DetectLevel();
  for (Md5Level level : {Md5Level::kPortable, Md5Level::kAvx2, Md5Level::kAvx512}) {
    const Md5Kernel kernel = Md5KernelFor(level);
    EXPECT_EQ(kernel.level, std::min(level, detected)) << Md5LevelName(level);
    EXPECT_EQ(kernel.laneCount, Md5LaneCount(kernel.level));
  }
  std::printf("detected MD5 level: %s\n", Md5LevelName(detected));
}

}  // namespace
