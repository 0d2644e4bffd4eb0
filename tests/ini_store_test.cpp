// The INI store: profile reads, preserving writes, the list format and the list order.
#include "inilist/ini_store.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "inilist/xini_file.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using testing_support::ReadBytes;
using testing_support::TempFolder;
using testing_support::WriteBytes;

std::string Get(std::string_view content, std::string_view section, std::string_view key) {
  return ReadIniValue(content, section, key, "<default>");
}

TEST(ProfileRead, MatchesNamesCaseInsensitivelyAndTrimsBlanks) {
  std::string_view ini =
      "  [ UpdateServer ]  ; note\r\n"
      "  url =  http://a/b  \r\n"
      "Spaced  Key=1\r\n";
  EXPECT_EQ(Get(ini, "updateserver", "URL"), "http://a/b");
  EXPECT_EQ(Get(ini, " UPDATESERVER ", " Url "), "http://a/b");
  EXPECT_EQ(Get(ini, "updateserver", "spaced  key"), "1");
  EXPECT_EQ(Get(ini, "updateserver", "spaced key"), "<default>");
}

TEST(ProfileRead, StripsOnePairOfMatchingQuotes) {
  struct {
    const char* stored;
    const char* read;
  } cases[] = {
      {"\"quoted\"", "quoted"},     {"'single'", "single"}, {"\"abc'", "\"abc'"},
      {"\"abc", "\"abc"},           {"a\"b\"c", "a\"b\"c"}, {"\"a\"b\"", "a\"b"},
      {"\"\"x\"\"", "\"x\""},       {"\"\"", ""},           {"\"", "\""},
      {"  \"  in  \"  ", "  in  "},
  };
  for (const auto& c : cases) {
    std::string ini = std::string("[s]\nk=") + c.stored + "\n";
    EXPECT_EQ(Get(ini, "s", "k"), c.read) << c.stored;
  }
}

TEST(ProfileRead, FollowsTheWindowsLineRules) {
  std::string_view ini =
      "top=1\n"
      "[d]\rk=first\rk=second\r\n"
      "novalue\n"
      "eq=x=v\n"
      "c=v ; not a comment\n"
      ";semi=1\n"
      "[c4\n"
      "after=2\n"
      "[e]\n"
      "x=1\n"
      "[D]\n"
      "j=late\n";
  EXPECT_EQ(Get(ini, "", "top"), "1");
  EXPECT_EQ(Get(ini, "d", "k"), "first");
  EXPECT_EQ(Get(ini, "d", "novalue"), "<default>");
  EXPECT_EQ(Get(ini, "d", "eq"), "x=v");
  EXPECT_EQ(Get(ini, "d", "c"), "v ; not a comment");
  EXPECT_EQ(Get(ini, "d", ";semi"), "1");
  // "[c4" is no header: the keys after it stay in section d.
  EXPECT_EQ(Get(ini, "d", "after"), "2");
  // Only the first section of a name is searched.
  EXPECT_EQ(Get(ini, "d", "j"), "<default>");
  EXPECT_EQ(Get(ini, "missing", "x"), "<default>");
  EXPECT_EQ(Get("", "d", "k"), "<default>");
}

TEST(ProfileRead, HandlesEmptyValuesNulAndByteOrderMark) {
  EXPECT_EQ(Get("[s]\nk=\n", "s", "k"), "");
  EXPECT_EQ(Get("[s]\nk=   \n", "s", "k"), "");
  EXPECT_EQ(Get(std::string_view("[s]\nk=a\0b\nn=2\n", 15), "s", "k"), "a");
  EXPECT_EQ(Get(std::string_view("[s]\nk=a\0b\nn=2\n", 15), "s", "n"), "2");
  EXPECT_EQ(Get("[s]\nk=a\x1A\n", "s", "k"), "a");
  EXPECT_EQ(Get("\xEF\xBB\xBF[s]\r\nk=v\r\n", "s", "k"), "v");
  // A UTF-8 file's values come back in the ANSI code page.
  EXPECT_EQ(Get("\xEF\xBB\xBF[s]\r\nk=\xE5\x80\xBC\r\n", "s", "k"), "\xD6\xB5");
}

// Writes replace values where they stand and keep every other byte: a missing section goes at
// the end (a last line without line end gets one), missing keys after the section's last line,
// only the first of duplicate sections is written, CR-only line ends stay.
TEST(ProfileWrite, ReplacesValuesWhereTheyStandAndKeepsEveryOtherByte) {
  const struct {
    std::string before;
    KeyValueWrites writes;
    std::string after;
  } cases[] = {
      {"",
       {{"value_count", "1"}, {"value_key0", "a"}},
       "[file]\r\nvalue_count=1\r\nvalue_key0=a\r\n"},
      {"[a]\nx=1", {{"k", "v"}}, "[a]\nx=1\r\n[file]\r\nk=v\r\n"},
      {"; top comment\n\n[FILE]   ; the list\r\n  Value_Count = 5  \r\n# hash\r\nvalue_key0=old\r\n"
       "value_key0=duplicate\r\n\r\n[updateserver]\nURL = http://x\n",
       {{"value_count", "2"}, {"value_key0", "new"}, {"value_key1", "added"}},
       "; top comment\n\n[FILE]   ; the list\r\n  Value_Count = 2\r\n# hash\r\nvalue_key0=new\r\n"
       "value_key0=duplicate\r\nvalue_key1=added\r\n\r\n[updateserver]\nURL = http://x\n"},
      {"[file]\na=1\n[other]\n[file]\nk=old\n",
       {{"k", "new"}},
       "[file]\na=1\nk=new\r\n[other]\n[file]\nk=old\n"},
      {"[file]\rvalue_count=1\r[b]\ry=2\r",
       {{"value_count", "3"}},
       "[file]\rvalue_count=3\r[b]\ry=2\r"},
  };
  for (const auto& c : cases) {
    const std::string after = ApplyIniWrites(c.before, "file", c.writes);
    EXPECT_EQ(after, c.after) << testing::PrintToString(c.before);
    for (const auto& [key, value] : c.writes) EXPECT_EQ(Get(after, "file", key), value) << key;
  }
}

// The profile writes that writing `list` as a numbered list stands for.
KeyValueWrites ListWrites(const OrderedList& list) {
  KeyValueWrites writes = {{"value_count", std::to_string(list.Size())}};
  for (size_t i = 0; i < list.Size(); ++i) {
    writes.emplace_back("value_key" + std::to_string(i), list.Entries()[i].Key());
    writes.emplace_back("value_" + std::to_string(i), list.Entries()[i].Value());
  }
  return writes;
}

// The list write tells the list's keys in the file by their form alone: every other spelling of
// a key, and keys of the list's form past its end, must stay as the profile writes leave them.
TEST(ListWrite, GivesWhatTheProfileWritesOfTheListGive) {
  OrderedList list;
  for (int i = 0; i < 12; ++i)
    list.Insert(std::string("\xCA\xFD").append(std::to_string(i)), std::to_string(i));
  const std::string cases[] = {
      "",
      "[updateserver]\r\nURL=http://x\r\n",
      "[a]\nx=1",
      "[file]",
      "[FILE] ; list\r\n  Value_Count = 20 \r\nVALUE_KEY0=o\r\nvalue_0 "
      "=\to\r\n\r\n[o]\r\nvalue_1=k\r\n",
      "[file]\nvalue_key01=x\nvalue_key+1=x\nvalue_key-1=x\nvalue_key 1=x\nvalue_key=x\nvalue_=x\n"
      "value_key1x=x\nvalue_key18446744073709551617=x\nvalue_00=x\nvalue_keyA=x\nvalue_count0=x\n"
      "value_key10=o\nvalue_10=o\nvalue_key12=former\nvalue_12=former\nvalue_key40=former\nvalue_"
      "40=x\n"
      "value_key2=o\nvalue_key2=dup\n",
      "value_count=1\n[file]\nvalue_count=2\n\n\n[file]\nvalue_key0=second section\n",
      "\xEF\xBB\xBF[file]\r\nvalue_key0=\xE5\x80\xBC\r\n",
      "[file]\rvalue_count=1\r[b]\ry=2\r",
  };
  for (const std::string& content : cases) {
    EXPECT_EQ(ApplyIniList(content, "file", list),
              ApplyIniWrites(content, "file", ListWrites(list)))
        << testing::PrintToString(content);
    EXPECT_EQ(ApplyIniList(content, "file", OrderedList{}),
              ApplyIniWrites(content, "file", {{"value_count", "0"}}))
        << testing::PrintToString(content);
  }
}

TEST(ListOrder, FollowsMultibyteCharacterCodes) {
  // Byte order for ASCII; 0x80 and 0xFF are single characters below every double-byte one. The
  // list goes by bytes until a key holds 0xFF, which breaks the byte order, however it is read.
  const std::vector<std::string> expected = {"B", "_",    "a",    "a.txt",    "a|x",
                                             "b", "\x80", "\xFF", "\x81\x40", "\xB0\xA1"};
  for (size_t readAfter : {0, 7, 9}) {
    OrderedList list;
    for (const char* key :
         {"b", "B", "a", "a.txt", "a|x", "_", "\xB0\xA1", "\xFF", "\x81\x40", "\x80"}) {
      list.Insert(key, "");
      if (list.Size() == readAfter) list.Entries();
    }
    std::vector<std::string> keys;
    for (const auto& entry : list) keys.emplace_back(entry.Key());
    EXPECT_EQ(keys, expected) << "read after " << readAfter;
  }
  EXPECT_EQ(platform::CompareMultibyte("a\xB0\xA1", "a\xFF"), 1);
  EXPECT_EQ(platform::CompareMultibyte("\xB0\xA1", "\xB0\xA1\xB0\xA1"), -1);
}

// A key inserted again keeps its first value, whether the list was read in between or not, also
// among many keys sorted and merged in large runs.
TEST(ListOrder, KeepsTheFirstValueOfAKey) {
  OrderedList list;
  list.Insert("a", "first");
  list.Insert("a", "second");
  ASSERT_NE(list.Find("a"), nullptr);
  EXPECT_EQ(list.Find("a")->Value(), "first");
  list.Insert("a", "third");
  EXPECT_EQ(list.Find("a")->Value(), "first");

  auto multibyteLess = [](const std::string& a, const std::string& b) {
    return platform::CompareMultibyte(a, b) < 0;
  };
  std::map<std::string, std::string, decltype(multibyteLess)> expected(multibyteLess);
  std::mt19937 random(20261209);
  OrderedList many;
  for (int i = 0; i < 60000; ++i) {
    // Double-byte keys from a range small enough that most come again, far apart.
    unsigned code = std::uniform_int_distribution<unsigned>(0x8140, 0x8140 + 20000)(random);
    std::string key = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF), 'k'};
    std::string value = std::to_string(i);
    expected.emplace(key, value);
    many.Insert(key, value);
    if (i % 25000 == 0) many.Entries();
  }
  ASSERT_EQ(many.Size(), expected.size());
  auto entry = many.begin();
  for (const auto& [key, value] : expected) {
    ASSERT_EQ(entry->Key(), key);
    ASSERT_EQ(entry->Value(), value) << testing::PrintToString(key);
    ++entry;
  }
}

class XIniFileTest : public ::testing::Test {
 protected:
  std::string Content() const { return ReadBytes(m_Folder / "client.ini"); }

  TempFolder m_Folder;
  platform::Folder m_Opened = testing_support::OpenFolder(m_Folder.path());
  CXIniFile m_File{&m_Opened, "client.ini"};
};

TEST_F(XIniFileTest, WritesTheNumberedListAndKeepsAFormerLongerList) {
  WriteBytes(m_Folder / "client.ini",
             "[updateserver]\r\nURL=http://x\r\n[file]\r\nvalue_count=5\r\n"
             "value_key0=o0\r\nvalue_0=v0\r\nvalue_key1=o1\r\nvalue_1=v1\r\nvalue_key2=o2\r\n"
             "value_2=v2\r\nvalue_key3=o3\r\nvalue_3=v3\r\nvalue_key4=o4\r\nvalue_4=v4\r\n");
  OrderedList list{{"b", "2"}, {"a", "1"}, {"B", "0"}};
  EXPECT_EQ(m_File.WriteList(list), 1);
  EXPECT_EQ(Content(),
            "[updateserver]\r\nURL=http://x\r\n[file]\r\nvalue_count=3\r\n"
            "value_key0=B\r\nvalue_0=0\r\nvalue_key1=a\r\nvalue_1=1\r\nvalue_key2=b\r\n"
            "value_2=2\r\nvalue_key3=o3\r\nvalue_3=v3\r\nvalue_key4=o4\r\nvalue_4=v4\r\n");
}

TEST_F(XIniFileTest, NumbersPastTenAndWritesOnlyTheCountForAnEmptyList) {
  OrderedList list;
  for (int i = 100; i < 111; ++i) list.Insert(std::string("f").append(std::to_string(i)), "d");
  ASSERT_EQ(m_File.WriteList(list), 1);
  EXPECT_EQ(ReadIniValue(Content(), "file", "value_key10", ""), "f110");
  EXPECT_EQ(ReadIniValue(Content(), "file", "value_10", ""), "d");
  ASSERT_EQ(m_File.WriteList(OrderedList{}), 1);
  EXPECT_EQ(ReadIniValue(Content(), "file", "value_count", ""), "0");
  EXPECT_EQ(ReadIniValue(Content(), "file", "value_key10", ""), "f110");
  EXPECT_EQ(m_File.WriteInteger("value_count", 7), 1);
  EXPECT_EQ(ReadIniValue(Content(), "file", "value_count", ""), "7");
}

// A list of many files is written in pieces of 1 MiB and read back whole, over a former list
// too: 60,000 entries make files of some 5 MiB.
TEST_F(XIniFileTest, WritesAListOfManyMebibytesWholeAndOverItself) {
  OrderedList list;
  for (int i = 0; i < 60000; ++i) {
    list.Insert("\xCA\xFD\xBE\xDD" + std::to_string(i) + ".pak", std::string(32, 'a' + i % 26));
  }
  const std::string expected = ApplyIniList("", "file", list);
  ASSERT_GT(expected.size(), 4u << 20);
  ASSERT_EQ(m_File.WriteList(list), 1);
  EXPECT_EQ(Content(), expected);
  list.Insert("\xCA\xFD", "new");
  ASSERT_EQ(m_File.WriteList(list), 1);
  EXPECT_EQ(Content(), ApplyIniList("", "file", list));
}

// A read-only file, or a folder in the file's place, is refused and left as it was.
TEST_F(XIniFileTest, RefusesAReadOnlyFileOrAFolderAndLeavesIt) {
  WriteBytes(m_Folder / "client.ini", "[file]\r\nvalue_count=0\r\n");
  std::filesystem::permissions(m_Folder / "client.ini", std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::group_read);
  EXPECT_EQ(m_File.WriteList(OrderedList{{"a", "1"}}), 0);
  EXPECT_EQ(Content(), "[file]\r\nvalue_count=0\r\n");
  std::filesystem::permissions(m_Folder / "client.ini", std::filesystem::perms::owner_all);
  std::filesystem::remove(m_Folder / "client.ini");
  std::filesystem::create_directory(m_Folder / "client.ini");
  EXPECT_EQ(m_File.WriteList(OrderedList{{"a", "1"}}), 0);
  EXPECT_TRUE(std::filesystem::is_directory(m_Folder / "client.ini"));
}

TEST_F(XIniFileTest, ReplacesAtomicallyKeepingPermissionsAndNoLeftover) {
  WriteBytes(m_Folder / "client.ini", "[file]\n");
  std::filesystem::permissions(m_Folder / "client.ini", std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::owner_write |
                                                            std::filesystem::perms::others_read);
  // What the system keeps of those bits (Windows keeps only whether the file can be written).
  auto before = std::filesystem::status(m_Folder / "client.ini").permissions();
  ASSERT_EQ(m_File.WriteList(OrderedList{{"a", "1"}}), 1);
  EXPECT_EQ(std::filesystem::status(m_Folder / "client.ini").permissions(), before);
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_Folder.path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

}  // namespace
