// INI files in UTF-16 and with a UTF-8 byte-order mark, read and written as the profile functions
// of current Windows do, from the store up to whole runs of the built tool.
#include <gtest/gtest.h>

#include "encode/config_encoding.h"
#include "inilist/ini_store.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using testing_support::ReadBytes;
using testing_support::RunTabulonIn;
using testing_support::TempFolder;
using testing_support::ToolRun;
using testing_support::WriteBytes;

// UTF-16 bytes of `units`, little-endian unless asked.
std::string Utf16(std::u16string_view units, bool bigEndian = false) {
  std::string bytes;
  for (char16_t unit : units) {
    char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}
std::string Utf16File(std::u16string_view units) { return "\xFF\xFE" + Utf16(units); }

TEST(EncodedIni, Utf16ValuesReadInTheAnsiCodePage) {
  struct {
    std::string content;
    const char* section;
    const char* key;
    const char* read;
  } cases[] = {
      {Utf16File(u"[updateserver]\r\nURL=http://cdn.example/\u6E38\u620F\r\n"), "updateserver",
       "url", "http://cdn.example/\xD3\xCE\xCF\xB7"},
      {Utf16File(u"[\u4E2D\u6587]\n \u952E = \"\u503C\" \n"), "\xD6\xD0\xCE\xC4", "\xBC\xFC",
       "\xD6\xB5"},
      // No exact code page 936 form: an emoji and a surrogate without its pair.
      {Utf16File(u"[a]\rk=1\r[s]\rk=a\U0001F600b\xD800"), "s", "k", "a?b?"},
      {Utf16File(std::u16string_view(u"[s]\nk=a\0b\nn=2", 13)), "s", "k", "a"},
      {Utf16File(u"[s]\r\nk=v") + "\x41", "s", "k", "v"},
      {"\xFF\xFE", "s", "k", "<default>"},
      {"\xFE\xFF" + Utf16(u"[s]\r\nk=v\r\n", true), "s", "k", "<default>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadIniValue(c.content, c.section, c.key, "<default>"), c.read) << c.read;
  }
}

// Characters whose UTF-16 code unit has a low byte that means something in ANSI text: NUL, the
// blanks, CR, LF, Ctrl+Z, quotes, ';', '=', the brackets and '|' (上 is U+4E0A). In section
// names, keys and values, at their ends too, they are characters like any other: for reading,
// for writing and for the encoded copy, which must give the lines of the file's GBK text.
TEST(EncodedIni, CodeUnitsWhoseLowByteIsABlankOrALineEnd) {
  for (char16_t low :
       {0x00, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x1A, 0x20, 0x22, 0x27, 0x3B, 0x3D, 0x5B, 0x5D, 0x7C}) {
    const std::u16string c(1, static_cast<char16_t>(0x4E00 + low));
    const std::string g = platform::Utf16ToAnsi(c);
    SCOPED_TRACE(testing::PrintToString(g));
    ASSERT_EQ(g.size(), 2u);
    auto file = [&](std::u16string_view value) {
      return u"[s" + c + u"]\r\nk" + c + u"=" + std::u16string(value) + u"\r\nnext=1\r\n";
    };
    const std::string before = Utf16File(file(c + u"v" + c));
    const std::string section = "s" + g, key = "k" + g;
    EXPECT_EQ(ReadIniValue(before, section, key, "<default>"), g + "v" + g);
    EXPECT_EQ(ReadIniValue(before, section, "next", "<default>"), "1");
    EXPECT_EQ(ApplyIniWrites(before, section, {{key, g + "w" + g}}), Utf16File(file(c + u"w" + c)));
    const std::string gbk = "[s" + g + "]\r\nk" + g + "=" + g + "v" + g + "\r\nnext=1\r\n";
    EXPECT_EQ(EncodeConfigText(before), EncodeConfigText(gbk));
  }
}

// The encoded copy of a UTF-16 file encodes its GBK text: a character without a GBK form as '?',
// a unit NUL as a NUL byte, an odd last byte dropped. UTF-16 BE text is not encoded at all.
TEST(EncodedIni, EncodedCopyOfUtf16TextIsThatOfItsGbkText) {
  struct {
    std::string source;
    std::string gbk;
  } cases[] = {
      {Utf16File(u"[\u8BBE\u7F6E]\r\nw=1\n"), "[\xC9\xE8\xD6\xC3]\r\nw=1\n"},
      {Utf16File(u"a\U0001F600b\r\n\xD800"), "a?b\r\n?"},
      {Utf16File(std::u16string_view(u"x\0y\r\nz", 6)), std::string("x\0y\r\nz", 6)},
      {Utf16File(u"ab") + "\x0A", "ab"},
      {"\xFF\xFE", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeConfigText(c.source), EncodeConfigText(c.gbk)) << c.gbk;
  }
  EXPECT_EQ(EncodeConfigText("\xFE\xFF" + Utf16(u"[s]\r\n", true)), std::nullopt);
}

// A list written into files of each encoding, key by key and as a list: the whole file after,
// and each value read back.
TEST(EncodedIni, WritesNewTextInTheFileEncodingAndKeepsEveryOtherByte) {
  const OrderedList list = {{"\xCA\xFD\xBE\xDD.pak", "d0"}};
  const KeyValueWrites writes = {
      {"value_count", "1"}, {"value_key0", "\xCA\xFD\xBE\xDD.pak"}, {"value_0", "d0"}};
  const std::u16string lines = u"value_count=1\r\nvalue_key0=\u6570\u636E.pak\r\nvalue_0=d0\r\n";
  struct {
    std::string before;
    std::string after;
  } cases[] = {
      {Utf16File(u"; \u6CE8\u91CA\n[updateserver]\r\nURL=http://x\r\n[FILE]\n Value_Count\t= 5\n"
                 u"value_key0=old\r\n\r\n[other]\rk=\U0001F600\xDC00\r"),
       Utf16File(
           u"; \u6CE8\u91CA\n[updateserver]\r\nURL=http://x\r\n[FILE]\n Value_Count\t= 1\n"
           u"value_key0=\u6570\u636E.pak\r\nvalue_0=d0\r\n\r\n[other]\rk=\U0001F600\xDC00\r")},
      {"\xFF\xFE", Utf16File(u"[file]\r\n" + lines)},
      {Utf16File(u"[a]\nx=1"), Utf16File(u"[a]\nx=1\r\n[file]\r\n" + lines)},
      // An odd last byte stays last, after the lines added at the end.
      {Utf16File(u"[a]\r\n") + "\x7F", Utf16File(u"[a]\r\n[file]\r\n" + lines) + "\x7F"},
      // A UTF-8 file gets the same code page 936 bytes as a file without a mark.
      {"\xEF\xBB\xBF[file]\r\nvalue_count=5\r\nvalue_key0=\xE5\x80\xBC\r\n[u]\nURL=\xE5\x80\xBC\n",
       "\xEF\xBB\xBF[file]\r\nvalue_count=1\r\nvalue_key0=\xCA\xFD\xBE\xDD.pak\r\nvalue_0=d0\r\n"
       "[u]\nURL=\xE5\x80\xBC\n"},
  };
  for (const auto& c : cases) {
    std::string after = ApplyIniWrites(c.before, "file", writes);
    EXPECT_EQ(after, c.after) << testing::PrintToString(c.before);
    EXPECT_EQ(ApplyIniList(c.before, "file", list), c.after) << testing::PrintToString(c.before);
    if (!c.before.starts_with("\xFF\xFE")) continue;
    for (const auto& [key, value] : writes) EXPECT_EQ(ReadIniValue(after, "file", key, ""), value);
  }
}

// Whole runs on a release folder with Chinese names whose client.ini is in UTF-16, compared with
// tests/golden/utf16_client_ini/<case>/. Little-endian: the URL is read, both lists name each
// file with the same GBK bytes, client.ini keeps its lines and gets its list in UTF-16, and its
// encoded copy holds the lines of its GBK text. Big-endian: client.ini is never written nor
// encoded and its URL reads as missing, so update_file.ini is not written and the run fails.
TEST(EncodedIni, RunsWithAUtf16ClientIni) {
  const struct {
    const char* name;
    std::string client;
    int exitCode;
    std::vector<std::string> compared;
    std::vector<std::string> notWritten;
  } cases[] = {
      {"LittleEndian",
       Utf16File(u"[updateserver]\r\nURL=http://cdn.example/\u6E38\u620F\r\n[launcher]\nlang="
                 u"\u4E2D\u6587\n"),
       0,
       {"update_file.ini", "client.ini", "client_e.ini"},
       {}},
      {"BigEndian",
       "\xFE\xFF" + Utf16(u"[updateserver]\r\nURL=http://x\r\n", true),
       1,
       {"client.ini"},
       {"update_file.ini", "client_e.ini"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    WriteBytes(folder / "client.ini", c.client);
    WriteBytes(folder / "game.ini", "g");
    WriteBytes(folder / "set.ini", "s");
    WriteBytes(folder / "\xE6\x95\xB0\xE6\x8D\xAE.pak", "data");  // 数据.pak
    WriteBytes(folder / "\xE8\xAF\xB4\xE6\x98\x8E.txt", "");      // 说明.txt
    ToolRun run = RunTabulonIn(folder.path());
    EXPECT_EQ(run.exitCode, c.exitCode);
    testing_support::ExpectGolden(std::string("utf16_client_ini/") + c.name, folder.path(), run,
                                  c.compared);
    for (const std::string& name : c.notWritten) {
      EXPECT_FALSE(std::filesystem::exists(folder / name)) << name;
    }
  }
}

}  // namespace
