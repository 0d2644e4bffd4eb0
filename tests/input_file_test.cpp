// Reading a file that another program changes while it is open. Where the system lets the change
// happen (POSIX), the read must fail; on Windows the file is shared for reading only, so the
// change must fail and the read give the content as it was. Never a mix of old and new bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// Sizes around the read piece (64 KiB below) and the block of the file system.
const size_t kSizes[] = {0, 1, 4095, 4096, 65535, 65536, 65537, 131072, 200000};
constexpr size_t kPiece = 64 * 1024;

// Changes the file at `path` of `size` bytes as another program would; false when the system
// refused the change.
struct Change {
  const char* name;
  std::function<bool(const fs::path& path, size_t size)> apply;
};

bool WriteAt(const fs::path& path, std::ios::openmode mode, size_t offset,
             const std::string& bytes) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out | mode);
  if (!file) return false;
  if (!(mode & std::ios::app)) file.seekp(static_cast<std::streamoff>(offset));
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return !file.fail();
}

const Change kChanges[] = {
    {"none", [](const fs::path&, size_t) { return true; }},
    {"grow by a byte",
     [](const fs::path& path, size_t) { return WriteAt(path, std::ios::app, 0, "+"); }},
    {"shrink by a byte",
     [](const fs::path& path, size_t size) {
       std::error_code error;
       if (size > 0) fs::resize_file(path, size - 1, error);
       return size > 0 && !error;
     }},
    {"rewrite the last byte",
     [](const fs::path& path, size_t size) {
       return size > 0 && WriteAt(path, {}, size - 1, "#");
     }},
    {"delete",
     [](const fs::path& path, size_t) {
       std::error_code error;
       return fs::remove(path, error) && !error;
     }},
    {"replace",
     [](const fs::path& path, size_t size) {
       fs::path other = path.string() + ".new";
       WriteBytes(other, std::string(size, '='));
       std::error_code error;
       fs::rename(other, path, error);
       return !error;
     }},
};

// Reads `file` whole after `beforeRest` ran once the first piece was read; false when a read
// failed.
bool ReadAll(platform::InputFile& file, std::string& content,
             const std::function<void()>& beforeRest) {
  std::string piece(kPiece, '\0');
  content.clear();
  for (bool first = true;; first = false) {
    if (!first) beforeRest();
    std::int64_t got = file.Read(piece.data(), piece.size());
    if (got < 0) return false;
    if (got == 0) return true;
    content.append(piece.data(), static_cast<size_t>(got));
  }
}

TEST(InputFile, AChangeWhileTheFileIsOpenNeverGivesAMix) {
  TempFolder folder;
  const platform::Folder opened = OpenFolder(folder.path());
  for (size_t size : kSizes) {
    for (const Change& change : kChanges) {
      for (bool afterFirstPiece : {false, true}) {
        // A file shorter than a piece is read to its end by the first read.
        if (afterFirstPiece && size < kPiece) continue;
        SCOPED_TRACE(std::to_string(size) + " bytes, " + change.name +
                     (afterFirstPiece ? " after the first piece" : " before the first read"));
        const fs::path path = folder / "file.bin";
        const std::string bytes(size, 'a');
        WriteBytes(path, bytes);
        // Back in time, so that a change now shows in the modification time however coarse
        // the file system's clock.
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
        platform::InputFile file = platform::InputFile::Open(opened, "file.bin");
        ASSERT_TRUE(file.IsOpen());
        bool tried = false;
        bool applied = false;
        auto applyOnce = [&] {
          if (!tried) applied = change.apply(path, size);
          tried = true;
        };
        if (!afterFirstPiece) applyOnce();
        std::string content;
        bool read = ReadAll(file, content, applyOnce);
        file = platform::InputFile();
        const bool changed = applied && std::string_view(change.name) != "none";
        EXPECT_EQ(read, !changed);
        if (read) {
          EXPECT_EQ(content, bytes);
        }
        // Windows shares the file for reading only: no change can happen while it is open.
        if (IsWindowsBuild() && std::string_view(change.name) != "none") {
          EXPECT_FALSE(applied);
        }
        std::error_code ignored;
        fs::remove(path, ignored);
      }
    }
  }
}

}  // namespace
