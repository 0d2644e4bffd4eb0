// The digest queue against the one-file digest: every worker count and kernel level, files that
// end anywhere around the lanes' read pieces, files that cannot be read among them, and a queue
// given up halfway.
#include "digest/digest_queue.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "digest/digest_file.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempFolder;
using testing_support::WriteBytes;

// Sizes around the block, the largest read piece (128 KiB) and the smallest (16 KiB), and a few
// files large enough for many steps; a missing file and a folder among them. And a set of one
// file more than a worker has lanes, each ending within its first block, which lanes finish
// before the next step: repeated, since the order in which workers claim them varies.
const std::vector<long> kSmallFiles(9, 30);
const std::vector<long> kSizes = {
    0,      1,      55,     56,     64,      65,     4096, 16383,   16384,         16385,
    131071, 131072, 131073, 131135, 131136,  300000, -1,   2 << 20, (2 << 20) + 7, -2,
    0,      262144, 262143, 5,      1 << 20, 777};

// The files' names in `folder`.
std::vector<std::string> MakeFiles(const TempFolder& folder, const std::vector<long>& sizes) {
  std::mt19937 random(7);
  std::vector<std::string> paths;
  for (size_t i = 0; i < sizes.size(); ++i) {
    fs::path path = folder / (std::to_string(i) + ".bin");
    if (sizes[i] == -2) fs::create_directory(path);
    if (sizes[i] >= 0) {
      std::string bytes(static_cast<size_t>(sizes[i]), '\0');
      for (char& byte : bytes) byte = static_cast<char>(random());
      WriteBytes(path, bytes);
    }
    paths.push_back(std::to_string(i) + ".bin");
  }
  return paths;
}

TEST(DigestQueue, EveryWorkerCountAndLevelGivesTheOneFileDigests) {
  for (const auto& [sizes, rounds] : {std::pair{kSizes, 1}, std::pair{kSmallFiles, 50}}) {
    TempFolder folder;
    const std::vector<std::string> paths = MakeFiles(folder, sizes);
    const platform::Folder opened = testing_support::OpenFolder(folder.path());
    std::vector<FileDigest> expected(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
      expected[i].read = DigestFile(opened, paths[i], expected[i].digest) == 1;
    }
    for (Md5Level level : {Md5Level::kPortable, Md5Level::kAvx2, Md5Level::kAvx512}) {
      if (Md5SupportedLevel(level) != level) continue;
      for (int workers : {0, 1, 2, 3}) {
        SCOPED_TRACE(std::string(Md5LevelName(level)) + ", " + std::to_string(paths.size()) +
                     " files, workers " + std::to_string(workers));
        for (int round = 0; round < rounds; ++round) {
          CDigestQueue queue(opened, paths, workers, level);
          for (size_t i = 0; i < paths.size(); ++i) {
            FileDigest got = queue.Next();
            ASSERT_EQ(got.read, expected[i].read) << i;
            ASSERT_EQ(FormatDigestHex(got.digest), FormatDigestHex(expected[i].digest)) << i;
          }
        }
      }
    }
  }
}

TEST(DigestQueue, AQueueGivenUpHalfwayStopsItsWorkers) {
  TempFolder folder;
  const std::vector<std::string> paths = MakeFiles(folder, kSizes);
  const platform::Folder opened = testing_support::OpenFolder(folder.path());
  for (int taken : {0, 1, 5}) {
    CDigestQueue queue(opened, paths, 2, Md5Level::kAvx512);
    for (int i = 0; i < taken; ++i) queue.Next();
  }
}

}  // namespace
