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

// Folders whose files the lanes take in another order than the listing's, the largest first, and
// in which a file runs alone in a worker: the results still come in listing order, each with its
// file's digest, with one to three workers.
TEST(DigestQueue, TheLargestFirstAndFilesAloneKeepTheListingOrder) {
  struct Shape {
    const char* name;
    std::vector<long> sizes;
  };
  std::vector<long> releaseLike;
  for (long i = 0; i < 40; ++i) releaseLike.push_back(i * 97 % 5000);
  releaseLike.insert(releaseLike.begin() + 20, kMissing);
  releaseLike.push_back(3 << 20);  // more than twice the next: it runs alone
  std::vector<long> rising;
  for (long i = 0; i < 3 * kMd5MaxLanes; ++i) rising.push_back(i * (37 << 10) + i % 3);
  const Shape shapes[] = {
      {"many small files and a large one listed last", releaseLike},
      {"sizes rising with the listing", rising},
      {"two files, the larger second", {70000, 900000}},
      {"two large files beside small ones", {5, 1 << 20, 64, 3 << 20, 0, 3 << 20, 55}},
      {"files of one size", std::vector<long>(5, 600 << 10)},
  };
  for (const Shape& shape : shapes) {
    TempFolder folder;
    std::vector<QueuedFile> files = MakeFiles(folder, shape.sizes);
    for (QueuedFile& file : files) file.mayReadAhead = true;
    const platform::Folder opened = testing_support::OpenFolder(folder.path());
    for (int workers : {1, 2, 3}) {
      SCOPED_TRACE(std::string(shape.name) + ", workers " + std::to_string(workers));
      CDigestQueue queue(opened, files, {.workers = workers});
      for (size_t i = 0; i < files.size(); ++i) {
        FileDigest expected;
        expected.read = DigestFile(opened, files[i].name, expected.digest) == 1;
        const FileDigest got = queue.Next();
        ASSERT_EQ(got.read, expected.read) << i;
        ASSERT_EQ(FormatDigestHex(got.digest), FormatDigestHex(expected.digest)) << i;
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
