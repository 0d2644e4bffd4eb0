// Fuzz target for the digest queue: any set of files, of sizes that end anywhere around the
// lanes' read pieces, some digested ahead and some at their turn, by any number of workers at
// any level (lanes 8 or 16 wide), gives every file in its place the digest of Md5Buffer over its
// bytes, whatever order the lanes take them in and whichever runs alone; a file that is missing
// is reported unread. Up to 40 files, more than the lanes of two workers hold.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "digest/digest_file.h"
#include "digest/digest_queue.h"

namespace {

// One folder per process, removed when the process ends.
char g_WorkFolder[] = "/tmp/tabulon-fuzz-queue-XXXXXX";

void RemoveWorkFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(g_WorkFolder, ignored);
}

const std::string& WorkFolder() {
  static const std::string folder = [] {
    if (::mkdtemp(g_WorkFolder) == nullptr) std::abort();
    std::atexit(RemoveWorkFolder);
    return std::string(g_WorkFolder) + "/";
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int workers = input.ConsumeIntegralInRange(0, 3);
  const auto level = static_cast<Md5Level>(input.ConsumeIntegralInRange(0, 2));
  const size_t count = input.ConsumeIntegralInRange<size_t>(0, 40);
  // Each file repeats a piece of the input: a few bytes can make a file of many read pieces.
  struct Planned {
    size_t start, length, repeat;
    bool missing, ahead;
  };
  std::vector<Planned> plans;
  for (size_t i = 0; i < count; ++i) {
    plans.push_back(
        {input.ConsumeIntegralInRange<size_t>(0, 512), input.ConsumeIntegralInRange<size_t>(0, 600),
         input.ConsumeIntegralInRange<size_t>(1, 700), input.ConsumeBool(), input.ConsumeBool()});
  }
  const std::string bytes = input.ConsumeRemainingBytesAsString();

  std::vector<QueuedFile> files;
  std::vector<std::string> contents;
  for (size_t i = 0; i < plans.size(); ++i) {
    const Planned& plan = plans[i];
    const std::string piece = bytes.substr(std::min(plan.start, bytes.size()), plan.length);
    std::string content;
    for (size_t r = 0; r < plan.repeat && content.size() < (512u << 10); ++r) content += piece;
    files.push_back({std::to_string(i), plan.ahead});
    contents.push_back(content);
    std::filesystem::remove(WorkFolder() + files.back().name);
    if (!plan.missing) {
      std::ofstream(WorkFolder() + files.back().name, std::ios::binary) << content;
    }
  }

  static const platform::Folder folder = platform::Folder::Open(WorkFolder());
  CDigestQueue queue(folder, files, {.workers = workers, .level = level});
  for (size_t i = 0; i < files.size(); ++i) {
    const FileDigest got = queue.Next();
    unsigned char expected[kMd5DigestSize];
    Md5Buffer(contents[i].data(), contents[i].size(), expected);
    const bool right = plans[i].missing
                           ? !got.read
                           : got.read && FormatDigestHex(got.digest) == FormatDigestHex(expected);
    if (!right) {
      std::fprintf(stderr, "%s, %d workers: file %zu of %zu (%zu bytes) %s\n", Md5LevelName(level),
                   workers, i, files.size(), contents[i].size(),
                   got.read ? "has a wrong digest" : "was not read");
      std::abort();
    }
  }
  return 0;
}
