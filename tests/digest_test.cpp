#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "digest/digest_file.h"
#include "digest/md5.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::Md5Hex;
using testing_support::TempFolder;
using testing_support::WriteBytes;

namespace {

struct KnownDigest {
  std::string_view message;
  std::string_view hex;
};

// The test suite of RFC 1321, appendix A.5.
constexpr KnownDigest kRfc1321Suite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890123456789012345678901234567890"
     "1234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

// DigestFile on the file at `path`, by its name in its folder.
int DigestPath(const fs::path& path, unsigned char digest[kMd5DigestSize]) {
  return DigestFile(testing_support::OpenFolder(path.parent_path()),
                    testing_support::AnsiText(path.filename()), digest);
}

std::string FileHex(const fs::path& path) {
  unsigned char digest[kMd5DigestSize];
  if (DigestPath(path, digest) != 1) return "DigestFile failed";
  return FormatDigestHex(digest);
}

TEST(Md5Test, Rfc1321Suite) {
  for (const KnownDigest& known : kRfc1321Suite)
    EXPECT_EQ(Md5Hex(known.message), known.hex) << '"' << known.message << '"';
}

TEST(Md5Test, AnySplitOfTheInputGivesTheSameDigest) {
  const std::string bytes = RandomBytes(200, 1);
  const std::string expected = Md5Hex(bytes);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto digestOfPieces = [&](const std::vector<int>& cuts) {
    Md5Context context;
    Md5Init(context);
    int start = 0;
    for (int cut : cuts) {
      Md5Append(context, data + start, cut - start);
      start = cut;
    }
    Md5Append(context, data + start, static_cast<int>(bytes.size()) - start);
    unsigned char digest[kMd5DigestSize];
    Md5Finish(context, digest);
    return FormatDigestHex(digest);
  };

  // Every way of cutting the input into three pieces, empty pieces included.
  for (int first = 0; first <= 200; ++first) {
    for (int second = first; second <= 200; ++second)
      ASSERT_EQ(digestOfPieces({first, second}), expected) << first << ", " << second;
  }
  // Many short pieces of random length.
  std::mt19937 generator(2);
  for (int trial = 0; trial < 100; ++trial) {
    std::vector<int> cuts;
    for (int at = 0; (at += static_cast<int>(generator() % 70)) < 200;) cuts.push_back(at);
    ASSERT_EQ(digestOfPieces(cuts), expected) << "trial " << trial;
  }
}

TEST(Md5Test, NonPositiveLengthChangesNothing) {
  const std::string bytes = RandomBytes(10, 3);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  Md5Context context{};
  Md5Init(context);
  Md5Append(context, data, 10);
  const Md5Context before = context;
  for (int length : {0, -1, -64, INT_MIN}) Md5Append(context, data, length);
  Md5Append(context, nullptr, 0);
  EXPECT_EQ(std::memcmp(&context, &before, sizeof context), 0);

  unsigned char digest[kMd5DigestSize];
  Md5Finish(context, digest);
  EXPECT_EQ(FormatDigestHex(digest), Md5Hex(bytes));
}

TEST(FormatDigestHexTest, TwoLowercaseCharactersPerByte) {
  const struct {
    unsigned char fill;
    std::string_view hex;
  } kUniform[] = {{0x00, "00000000000000000000000000000000"},
                  {0xff, "ffffffffffffffffffffffffffffffff"}};
  for (const auto& uniform : kUniform) {
    unsigned char digest[kMd5DigestSize];
    std::memset(digest, uniform.fill, sizeof digest);
    EXPECT_EQ(FormatDigestHex(digest), uniform.hex);
  }
  const unsigned char mixed[kMd5DigestSize] = {0x00, 0x01, 0x0f, 0x10, 0x7f, 0x80, 0x9a, 0xab,
                                               0xbc, 0xcd, 0xde, 0xef, 0xf0, 0xfe, 0xff, 0x5a};
  EXPECT_EQ(FormatDigestHex(mixed), "00010f107f809aabbccddeeff0feff5a");
}

TEST(DigestFileTest, Rfc1321SuiteFromFiles) {
  const TempFolder folder;
  int index = 0;
  for (const KnownDigest& known : kRfc1321Suite) {
    const fs::path path = folder / ("suite" + std::to_string(index++));
    WriteBytes(path, known.message);
    EXPECT_EQ(FileHex(path), known.hex) << '"' << known.message << '"';
  }
}

// Digests of RandomBytes(size, 4) as md5sum gives them (std::mt19937 is the same everywhere, so
// the table holds on every system, Windows under Wine included).
TEST(DigestFileTest, BlockAndChunkBoundarySizesMatchMd5sum) {
  const struct {
    size_t size;
    const char* md5sum;
  } cases[] = {
      {0, "d41d8cd98f00b204e9800998ecf8427e"},    {1, "fbade9e36a3f36d3d676c1b808451dd7"},
      {55, "f3ac337542ba37c77b1fc522d91a6457"},   {56, "71e43785cb2547a85b2709bdf600f09e"},
      {57, "2ca98454a9d63d4858d882860e140eaf"},   {63, "34d707d68d2c3ed07c487a6d1505c32d"},
      {64, "7b082f6ea3e5d3ccaebeead180e9276a"},   {65, "866e66aea4a595a2f2118ee2afaff65f"},
      {119, "0e992714bb87034c4377ba2b36007df4"},  {120, "73173861793b2bfa8c6a6dd4fafaeb34"},
      {1023, "deb7b67704a6e33536477eebd06c5ed9"}, {1024, "a3381e1ecd6e61e95312979ce3b6ea41"},
      {1025, "34fa4ae1b49c53a237be510ec9ea4525"}, {2104, "689623316d592682f4d12b97bab8936f"},
  };
  const TempFolder folder;
  for (const auto& c : cases) {
    const fs::path path = folder / ("size" + std::to_string(c.size));
    WriteBytes(path, RandomBytes(c.size, 4));
    EXPECT_EQ(FileHex(path), c.md5sum) << c.size << " bytes";
  }
}

// Past 2^29 bytes the low word of the bit count wraps and carries into the high word.
TEST(DigestFileTest, FilePast512MiBMatchesMd5sum) {
  const std::string tail = RandomBytes(40, 5);
  const TempFolder folder;
  const fs::path path = folder / "large.bin";
  const std::uintmax_t size = (std::uintmax_t{1} << 29) + 100;
  WriteBytes(path, {});
  fs::resize_file(path, size);  // sparse where the file system allows it
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(std::streamoff(size - tail.size()));
  file.write(tail.data(), std::streamsize(tail.size()));
  file.close();
  ASSERT_EQ(fs::file_size(path), size);
  // md5sum of the same bytes: 2^29 + 60 zero bytes, then the tail.
  EXPECT_EQ(FileHex(path), "7a15e13491902873d06ed87137bdac34");
}

TEST(DigestFileTest, FailureLeavesTheBufferUntouched) {
  const TempFolder folder;
  std::vector<fs::path> paths = {folder / "missing.bin", folder.path()};
  // Opens as a regular file, but reading its first bytes fails.
  if (fs::exists("/proc/self/mem")) paths.push_back("/proc/self/mem");
  for (const fs::path& path : paths) {
    unsigned char digest[kMd5DigestSize];
    std::memset(digest, 0xa5, sizeof digest);
    EXPECT_EQ(DigestPath(path, digest), 0) << path;
    EXPECT_EQ(FormatDigestHex(digest), "a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5") << path;
  }
}

}  // namespace
