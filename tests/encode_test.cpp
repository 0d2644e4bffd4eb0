#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/release_files.h"
#include "encode/base64.h"
#include "encode/config_encoding.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::Text;
using testing_support::WriteBytes;
using namespace std::string_literals;

namespace {

// Independent reference: spells the input out bit by bit and reads it back six bits at a time.
std::string ReferenceBase64(std::string_view bytes) {
  std::string alphabet;
  for (char c = 'A'; c <= 'Z'; ++c) alphabet += c;
  for (char c = 'a'; c <= 'z'; ++c) alphabet += c;
  for (char c = '0'; c <= '9'; ++c) alphabet += c;
  alphabet += "+/";

  std::string bits;
  for (unsigned char byte : bytes) {
    for (int bit = 7; bit >= 0; --bit) bits += ((byte >> bit) & 1) ? '1' : '0';
  }
  while (bits.size() % 6 != 0) bits += '0';
  std::string text;
  for (size_t i = 0; i < bits.size(); i += 6)
    text += alphabet[std::stoi(bits.substr(i, 6), nullptr, 2)];
  while (text.size() % 4 != 0) text += '=';
  return text;
}

std::string Encode(std::string_view bytes) {
  std::vector<char> output(Base64EncodedLength(static_cast<int>(bytes.size())) + 1, '#');
  const int length = Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()), output.data());
  EXPECT_EQ(length, static_cast<int>(output.size()) - 1);
  EXPECT_EQ(output.back(), '\0');
  return std::string(output.data(), length);
}

// Deterministic bytes covering every value from 0x00 to 0xFF.
std::string SampleBytes(size_t count) {
  std::string bytes;
  unsigned state = 12345;
  for (size_t i = 0; i < count; ++i) {
    state = state * 1103515245u + 12345u;
    bytes += static_cast<char>(i < 256 ? i * 167 % 256 : state >> 16);
  }
  return bytes;
}

TEST(Base64Encode, MatchesRfc4648Vectors) {
  EXPECT_EQ(Encode(""), "");
  EXPECT_EQ(Encode("f"), "Zg==");
  EXPECT_EQ(Encode("fo"), "Zm8=");
  EXPECT_EQ(Encode("foo"), "Zm9v");
  EXPECT_EQ(Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
}

TEST(Base64Encode, TakesBytesAsUnsignedAndNulCrLfAsData) {
  EXPECT_EQ(Encode("\x80"), "gA==");
  EXPECT_EQ(Encode("\xFF"), "/w==");
  EXPECT_EQ(Encode("\xFF\xFF\xFF"), "////");
  EXPECT_EQ(Encode("\xD6\xB5"), "1rU=");
  EXPECT_EQ(Encode("\0"s), "AA==");
  EXPECT_EQ(Encode("a\0b"s), "YQBi");
  EXPECT_EQ(Encode("\r\n"), "DQo=");
  EXPECT_EQ(Encode("\n"), "Cg==");
}

TEST(Base64Encode, SingleBitPatternsMatchReference) {
  for (size_t length = 1; length <= 3; ++length) {
    for (size_t bit = 0; bit < 8 * length; ++bit) {
      std::string bytes(length, '\0');
      bytes[bit / 8] = static_cast<char>(0x80 >> (bit % 8));
      EXPECT_EQ(Encode(bytes), ReferenceBase64(bytes)) << "length " << length << " bit " << bit;
    }
  }
}

TEST(Base64Encode, EveryChunkLengthMatchesReference) {
  const std::string bytes = SampleBytes(259);
  for (size_t length = 0; length <= bytes.size(); ++length) {
    const std::string_view input(bytes.data(), length);
    EXPECT_EQ(Encode(input), ReferenceBase64(input)) << "length " << length;
  }
}

TEST(Base64Encode, WritesExactlyTextAndNulOverJunk) {
  const std::string input = "abcd";
  char output[16];
  std::fill(std::begin(output), std::end(output), '\x7F');
  ASSERT_EQ(Base64Encode(reinterpret_cast<const unsigned char*>(input.data()), 4, output), 8);
  EXPECT_EQ(std::string(output, 9), "YWJjZA==\0"s);
  EXPECT_EQ(output[9], '\x7F');

  std::fill(std::begin(output), std::end(output), '\x7F');
  EXPECT_EQ(Base64Encode(nullptr, 0, output), 0);
  EXPECT_EQ(output[0], '\0');
  EXPECT_EQ(output[1], '\x7F');
}

TEST(Base64Encode, AcceptsUpTo767BytesAndRefusesMoreWithoutWriting) {
  const std::string bytes = SampleBytes(2000);
  std::vector<char> output(2000, '\x7F');
  const auto* input = reinterpret_cast<const unsigned char*>(bytes.data());

  ASSERT_EQ(Base64Encode(input, 767, output.data()), 1024);
  EXPECT_EQ(std::string(output.data(), 1024), ReferenceBase64(bytes.substr(0, 767)));
  EXPECT_EQ(output[1024], '\0');
  EXPECT_EQ(output[1025], '\x7F');

  for (int count : {768, 769, 1500, INT_MAX, -1, INT_MIN}) {
    std::fill(output.begin(), output.end(), '\x7F');
    EXPECT_EQ(Base64Encode(input, count, output.data()), 0) << count;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\x7F'), 2000) << count;
  }
}

// ---- Encoding of configuration files ------------------------------------------------------

// The bytes of an encoded file whose lines encode `chunks`.
std::string EncodedFile(const std::vector<std::string>& chunks) {
  std::string bytes;
  for (const std::string& chunk : chunks) bytes += ReferenceBase64(chunk) + "\r\n";
  return bytes;
}

// A line of `length` bytes without any CR, LF, NUL or 0x1A, repeating only every 90 bytes.
std::string LongLine(size_t length) {
  std::string line;
  for (size_t i = 0; i < length; ++i) line += static_cast<char>('!' + i % 90);
  return line;
}

TEST(EncodeConfigText, CrLfAndLfSourcesGiveIdenticalText) {
  const std::string expected = "W2FdCg==\r\neD0xCg==\r\n";
  EXPECT_EQ(EncodeConfigText("[a]\r\nx=1\r\n"), expected);
  EXPECT_EQ(EncodeConfigText("[a]\nx=1\n"), expected);
}

TEST(EncodeConfigText, BlankLineEncodesItsLineFeed) {
  EXPECT_EQ(EncodeConfigText("\r\n"), "Cg==\r\n");
  EXPECT_EQ(EncodeConfigText("a\r\n\r\n\nb\n"), "YQo=\r\nCg==\r\nCg==\r\nYgo=\r\n");
  EXPECT_EQ(EncodeConfigText(""), "");
}

TEST(EncodeConfigText, SplitsLongLinesInto259ByteChunks) {
  const std::string l258 = LongLine(258), l259 = LongLine(259), l600 = LongLine(600);
  for (const std::string lineEnd : {"\r\n", "\n"}) {
    const std::string encoded258 = *EncodeConfigText(l258 + lineEnd + "end" + lineEnd);
    EXPECT_EQ(encoded258, EncodedFile({l258 + "\n", "end\n"}));
    EXPECT_EQ(encoded258.find("\r\n"), 348u);

    EXPECT_EQ(EncodeConfigText(l259 + lineEnd + "end" + lineEnd),
              EncodedFile({l259, "\n", "end\n"}));
    EXPECT_EQ(EncodeConfigText(l600 + lineEnd + "end" + lineEnd),
              EncodedFile(
                  {l600.substr(0, 259), l600.substr(259, 259), l600.substr(518) + "\n", "end\n"}));
  }
}

TEST(EncodeConfigText, FollowsTextModeReadingRules) {
  struct Case {
    std::string source;
    std::vector<std::string> chunks;
  };
  const Case cases[] = {
      {"ab\0cd\r\nef\r\n"s, {"ab", "ef\n"}},  // bytes after a NUL are dropped
      {"ab\r\n\0cd\r\nef\r\n"s, {"ab\n"}},    // a chunk starting with NUL ends the copy
      {"ab\x1A"s + "cd\r\nef\r\n", {"ab"}},   // 0x1A is the end of the file
      {"ab\r\n\x1A"s + "cd\r\n", {"ab\n"}},   //
      {"ab\rcd\r\nef\r\r\ngh\r", {"ab\rcd\n", "ef\r\n", "gh\r"}},  // a lone CR is kept
      {"ab\r\ncd", {"ab\n", "cd"}},                                // a last line without LF
      {"[\xC9\xE8\xD6\xC3]\r\n\xFF\x80=\xD6\xB5\r\n",
       {"[\xC9\xE8\xD6\xC3]\n", "\xFF\x80=\xD6\xB5\n"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeConfigText(c.source), EncodedFile(c.chunks))
        << testing::PrintToString(c.source);
  }
}

class ConfigEncodingTest : public testing::Test {
 protected:
  // Encodes set.ini into set_e.ini; returns what it printed.
  std::string Encode(int expectedResult) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(
        EncodeConfigFile(testing_support::OpenFolder(folder_.path()), {"set.ini", "set_e.ini"}),
        expectedResult);
    platform::FlushConsole();
    return testing::internal::GetCapturedStdout();
  }

  // A file's path as the console shows it.
  std::string Shown(const fs::path& file) const {
    return testing_support::AnsiText(fs::absolute(folder_.path())) + platform::kPathSeparator +
           testing_support::AnsiText(file.filename());
  }

  testing_support::TempFolder folder_;
  const fs::path source_ = folder_ / "set.ini";
  const fs::path destination_ = folder_ / "set_e.ini";
};

TEST_F(ConfigEncodingTest, ReplacesTheDestinationWholeAndNeverChangesTheSource) {
  WriteBytes(destination_, std::string(5000, 'x') + "\r\n");
  WriteBytes(source_, "k=v\r\n");
  fs::permissions(source_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(Encode(1), "");
  EXPECT_EQ(ReadBytes(destination_), "az12Cg==\r\n");
  EXPECT_EQ(ReadBytes(source_), "k=v\r\n");
}

TEST_F(ConfigEncodingTest, EmptySourceGivesEmptyFile) {
  WriteBytes(source_, "");
  EXPECT_EQ(Encode(1), "");
  EXPECT_TRUE(fs::exists(destination_));
  EXPECT_EQ(ReadBytes(destination_), "");
}

TEST_F(ConfigEncodingTest, MissingSourceLeavesDestinationUntouched) {
  WriteBytes(destination_, "old\r\n");
  EXPECT_EQ(Encode(0), Text(texts::kSourceUnopenable, Shown(source_).c_str()));
  EXPECT_EQ(ReadBytes(destination_), "old\r\n");
}

TEST_F(ConfigEncodingTest, UncreatableDestinationFails) {
  WriteBytes(source_, "k=v\r\n");
  fs::create_directory(destination_);
  EXPECT_EQ(Encode(0), Text(texts::kWriteFailed, Shown(destination_).c_str()));
  EXPECT_TRUE(fs::is_directory(destination_));
  EXPECT_EQ(ReadBytes(source_), "k=v\r\n");
}

TEST(EncodeConfigFiles, EncodesEveryPairOfTheFolderAndReportsAMissingOne) {
  testing_support::TempFolder folder;
  const std::string directory = testing_support::ToolFolderText(folder.path());
  WriteBytes(folder / "set.ini", "[s]\r\n");
  WriteBytes(folder / "client.ini", "[c]\r\n");

  testing::internal::CaptureStdout();
  std::vector<ConfigFilePair> pairs;
  for (const ConfigFileNames& names : kConfigFiles) pairs.push_back({names.source, names.copy});
  const int result = EncodeConfigFiles(testing_support::OpenFolder(folder.path()), pairs);
  platform::FlushConsole();
  const std::string printed = testing::internal::GetCapturedStdout();

  EXPECT_EQ(result, 0);
  EXPECT_EQ(printed, Text(texts::kSourceUnopenable, (directory + "game.ini").c_str()));
  EXPECT_EQ(ReadBytes(folder / "set_e.ini"), "W3NdCg==\r\n");
  EXPECT_FALSE(fs::exists(folder / "game_e.ini"));
  EXPECT_EQ(ReadBytes(folder / "client_e.ini"), "W2NdCg==\r\n");
}

}  // namespace
