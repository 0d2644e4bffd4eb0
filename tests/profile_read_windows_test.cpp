// The project's profile read against the real GetPrivateProfileStringA: on a set of awkward INI
// files every key, those the service lists and spellings it must not find, reads the same both
// ways.
#include <gtest/gtest.h>
#include <windows.h>

#include <utility>
#include <vector>

#include "inilist/ini_store.h"
#include "support/test_support.h"

namespace {

using testing_support::AnsiText;
using testing_support::TempFolder;
using testing_support::WriteBytes;

constexpr char kDefault[] = "DEFAULT";

struct Query {
  std::string section;
  std::string key;
};

struct IniCase {
  const char* name;  // also the file name
  std::string content;
  std::vector<Query> queries;  // besides every key that the service lists
};

// A list of NUL-separated names as the listing services return them.
std::vector<std::string> SplitNames(const std::vector<char>& buffer, DWORD length) {
  std::vector<std::string> names;
  for (size_t at = 0; at < length && buffer[at] != '\0';) {
    std::string name(&buffer[at]);
    at += name.size() + 1;
    names.push_back(std::move(name));
  }
  return names;
}

std::string ServiceValue(const std::string& path, const Query& query) {
  std::vector<char> buffer(1 << 16);
  DWORD length =
      GetPrivateProfileStringA(query.section.c_str(), query.key.c_str(), kDefault, buffer.data(),
                               static_cast<DWORD>(buffer.size()), path.c_str());
  return std::string(buffer.data(), length);
}

// Every section and key name the service finds in the file.
std::vector<Query> ListedKeys(const std::string& path) {
  std::vector<char> buffer(1 << 16);
  DWORD length = GetPrivateProfileSectionNamesA(buffer.data(), static_cast<DWORD>(buffer.size()),
                                                path.c_str());
  std::vector<std::string> sections = SplitNames(buffer, length);
  sections.push_back("");  // keys before the first header
  std::vector<Query> keys;
  for (const std::string& section : sections) {
    length = GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(),
                                      static_cast<DWORD>(buffer.size()), path.c_str());
    for (std::string& key : SplitNames(buffer, length)) keys.push_back({section, std::move(key)});
  }
  return keys;
}

std::vector<IniCase> AwkwardFiles() {
  using namespace std::string_literals;
  return {
      {"case.ini",
       "[Section]\r\nKey=Value\r\nMIXED=Upper Value\r\n",
       {{"section", "key"}, {"SECTION", "KEY"}, {"sEcTiOn", "mixed"}, {"Section", "Value"}}},
      {"blanks.ini",
       "  [ spaced ]  \r\n"
       "  key1   =   value with  inner  blanks   \r\n"
       "\tkey2\t=\tv2\t\r\n"
       "key 3 = three\r\n"
       "key  4=four\r\n"
       "empty=\r\n"
       "blank=   \r\n"
       "vt=\v\fx\v\r\n"
       "\r\n"
       "   \r\n"
       "last = after blank lines\r\n",
       {{" spaced ", " key1 "},
        {"spaced", "key 4"},
        {"spaced", "key3"},
        {"spaced", "empty"},
        {"spaced", "blank"},
        {"spaced", "missing"},
        {"[spaced]", "key1"}}},
      {"quotes.ini",
       "[q]\r\n"
       "double=\"quoted\"\r\n"
       "single='single'\r\n"
       "mixed=\"abc'\r\n"
       "open=\"abc\r\n"
       "close=abc\"\r\n"
       "inner=a\"b\"c\r\n"
       "outer=\"a\"b\"\r\n"
       "twice=\"\"x\"\"\r\n"
       "emptydouble=\"\"\r\n"
       "emptysingle=''\r\n"
       "lone=\"\r\n"
       "padded=  \"  in  \"  \r\n"
       "\"quotedkey\"=v\r\n",
       {{"q", "quotedkey"}, {"q", "\"quotedkey\""}}},
      {"comments.ini",
       "; leading comment\r\n"
       "[c]\r\n"
       ";semi=1\r\n"
       "#hash=2\r\n"
       "k=v ; not a comment\r\n"
       "k2=v # nor this\r\n"
       "; comment line\r\n"
       "[c2] ; note\r\n"
       "x=1\r\n"
       "[c3]tail\r\n"
       "y=2\r\n",
       {{"c", ";semi"}, {"c", "#hash"}, {"c2", "x"}, {"c3", "y"}, {"c2 ; note", "x"}}},
      {"duplicates.ini",
       "[d]\r\nk=first\r\nk=second\r\nK=third\r\n"
       "[e]\r\nk=e\r\n"
       "[d]\r\nk=fourth\r\nj=x\r\n"
       "[D]\r\nm=y\r\n",
       {{"d", "k"}, {"D", "K"}, {"d", "j"}, {"d", "m"}, {"e", "k"}}},
      {"noequals.ini",
       "[n]\r\nnoequals\r\nk=v\r\n[c4\r\nafter=1\r\neq=x=v\r\n=empty key\r\n",
       {{"n", "noequals"}, {"n", "after"}, {"n", "eq"}, {"n", ""}, {"c4", "after"}}},
      {"toplevel.ini",
       "top=1\r\n[s]\r\nk=v\r\n[]\r\nhidden=2\r\n",
       {{"", "top"}, {" ", "top"}, {"s", "top"}, {"", "hidden"}}},
      {"emptyheader.ini", "[]\r\nk=1\r\n[s]\r\nk=2\r\n", {{"", "k"}, {"s", "k"}}},
      {"cr.ini", "[cr]\rk1=v1\rk2=v2\r[other]\rk1=o\r", {{"cr", "k1"}, {"other", "k2"}}},
      {"lf.ini", "[lf]\nk1=v1\nk2=v2\n[other]\nk1=o", {{"lf", "k1"}, {"other", "k1"}}},
      {"mixedends.ini", "[m]\n\rk1=v1\r\n\nk2=v2\r\rk3=v3\n\n\nk4=v4", {{"m", "k1"}, {"m", "k4"}}},
      {"bom.ini",
       "\xEF\xBB\xBF[updateserver]\r\nURL=http://cdn.example/\r\n[file]\r\nvalue_count=2\r\n",
       {{"updateserver", "URL"}, {"file", "value_count"}, {"file", "value_key0"}}},
      {"nulbyte.ini",
       "[z]\r\nk1=a\0b\r\nk2=after\r\nk3=x\x1A\r\nk4=x\x1Ay\r\n"s,
       {{"z", "k1"}, {"z", "k3"}, {"z", "k4"}}},
      // 中文 / 键=值 / URL, in code page 936
      {"gbk.ini",
       "[\xD6\xD0\xCE\xC4]\r\n\xBC\xFC=\xD6\xB5\r\nurl=http://\xD6\xD0/\r\n",
       {{"\xD6\xD0\xCE\xC4", "\xBC\xFC"}}},
      {"empty.ini", "", {{"s", "k"}, {"", ""}}},
  };
}

TEST(ProfileReadAgainstWindows, EveryKeyReadsTheSameBothWays) {
  TempFolder folder;
  const platform::Folder opened = testing_support::OpenFolder(folder.path());
  for (const IniCase& file : AwkwardFiles()) {
    std::filesystem::path filePath = folder / file.name;
    WriteBytes(filePath, file.content);
    std::string path = AnsiText(filePath);

    std::vector<Query> queries = ListedKeys(path);
    EXPECT_FALSE(queries.empty() && !file.content.empty()) << file.name << ": nothing listed";
    queries.insert(queries.end(), file.queries.begin(), file.queries.end());
    for (const Query& query : queries) {
      std::string expected = ServiceValue(path, query);
      SCOPED_TRACE(std::string(file.name) + " [" + query.section + "] " + query.key);
      std::string value;
      EXPECT_TRUE(ReadIniFileValue(opened, file.name, query.section, query.key, kDefault, value));
      EXPECT_EQ(value, expected);
      EXPECT_EQ(ReadIniValue(file.content, query.section, query.key, kDefault), expected);
    }
  }
}

TEST(ProfileReadAgainstWindows, AMissingFileGivesTheDefault) {
  TempFolder folder;
  std::string path = AnsiText(folder / "absent.ini");
  Query query{"updateserver", "URL"};
  EXPECT_EQ(ServiceValue(path, query), kDefault);
  std::string value;
  EXPECT_TRUE(ReadIniFileValue(testing_support::OpenFolder(folder.path()), "absent.ini",
                               query.section, query.key, kDefault, value));
  EXPECT_EQ(value, kDefault);
}

}  // namespace
