// The digest queue against the one-file digest: every worker count, files that end anywhere
// around the lanes' read pieces, lanes refilled after files of any number of pieces, files that
// cannot be read and files digested at their turn among them, and a queue given up while its
// reads are under way. The lanes' arithmetic at every level is md5_lanes_test's.
#include "digest/digest_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "digest/digest_file.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempFolder;
using testing_support::WriteBytes;

constexpr long kMissing = -1;
constexpr long kFolder = -2;

// Files that cannot be read, more than all lanes of three workers hold, which free every lane
// as soon as it is claimed. Then sizes around the block and around 1 to 4 times the read pieces
// (256 KiB with one worker, 128 KiB with two, 16 KiB the smallest), twice over in another order,
// so that with one worker every lane takes files of either parity of pieces after files of
// either parity.
std::vector<long> Sizes() {
  std::vector<long> sizes = {0, 1, 55, 56, 64, 65, 16383, 16384, 16385, kMissing, kFolder};
  for (long piece : {128 << 10, 256 << 10}) {
    for (long count = 1; count <= 4; ++count) {
      for (long off : {-1, 0, 1}) sizes.push_back(count * piece + off);
    }
  }
  std::vector<long> all(3 * kMd5MaxLanes + 1, kMissing);
  all.insert(all.end(), sizes.begin(), sizes.end());
  std::mt19937 random(3);
  std::shuffle(sizes.begin(), sizes.end(), random);
  all.insert(all.end(), sizes.begin(), sizes.end());
  return all;
}

// The files of `sizes` in `folder`, by name.
std::vector<QueuedFile> MakeFiles(const TempFolder& folder, const std::vector<long>& sizes) {
  std::mt19937 random(7);
  std::vector<QueuedFile> files;
  for (size_t i = 0; i < sizes.size(); ++i) {
    fs::path path = folder / (std::to_string(i) + ".bin");
    if (sizes[i] == kFolder) fs::create_directory(path);
    if (sizes[i] >= 0) {
      std::string bytes(static_cast<size_t>(sizes[i]), '\0');
      for (char& byte : bytes) byte = static_cast<char>(random());
      WriteBytes(path, bytes);
    }
    // Every seventh file is one that its turn may change.
    files.push_back({path.filename().string(), i % 7 != 3});
  }
  return files;
}

TEST(DigestQueue, EveryWorkerCountGivesTheOneFileDigestsInListingOrder) {
  TempFolder folder;
  const std::vector<QueuedFile> files = MakeFiles(folder, Sizes());
  const platform::Folder opened = testing_support::OpenFolder(folder.path());
  std::vector<FileDigest> expected(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    expected[i].read = DigestFile(opened, files[i].name, expected[i].digest) == 1;
  }
  for (Md5Level level : {Md5Level::kPortable, Md5DetectLevel()}) {
    for (int workers : {0, 1, 2, 3}) {
      SCOPED_TRACE(std::string(Md5LevelName(level)) + ", workers " + std::to_string(workers));
      CDigestQueue queue(opened, files, {.workers = workers, .level = level});
      for (size_t i = 0; i < files.size(); ++i) {
        const FileDigest got = queue.Next();
        ASSERT_EQ(got.read, expected[i].read) << i;
        ASSERT_EQ(FormatDigestHex(got.digest), FormatDigestHex(expected[i].digest)) << i;
      }
    }
  }
}

// Given up after 0 to 3 results, while the workers still read and step: the queue stops them,
// and frees nothing they use before they have all ended (AddressSanitizer would see it, in
// scripts/check-sanitizers.sh).
TEST(DigestQueue, AQueueGivenUpWhileItsWorkersReadStopsThem) {
  TempFolder folder;
  std::vector<long> sizes(3, 100);
  sizes.resize(24, 4 << 20);
  const std::vector<QueuedFile> files = MakeFiles(folder, sizes);
  const platform::Folder opened = testing_support::OpenFolder(folder.path());
  for (int round = 0; round < 12; ++round) {
    CDigestQueue queue(opened, files, {.workers = 2 + round % 3});
    for (int i = 0; i < round % 4; ++i) queue.Next();
  }
}

}  // namespace
