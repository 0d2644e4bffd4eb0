// Helpers of the hostile-input tests: the console texts and list files a run should give.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/console_texts.h"
#include "digest/digest_file.h"
#include "digest/md5.h"
#include "support/test_support.h"

namespace hostile_inputs {

namespace fs = std::filesystem;
using testing_support::ToolFolderText;

using List = std::vector<std::pair<std::string, std::string>>;

inline std::string Md5Hex(std::string_view bytes) {
  unsigned char digest[kMd5DigestSize];
  Md5Buffer(bytes.data(), bytes.size(), digest);
  return FormatDigestHex(digest);
}

// A console text with its arguments filled in, as the tool prints it.
template <typename... Args>
std::string Text(const char* format, Args... args) {
  std::string text(8192, '\0');
  int length = std::snprintf(text.data(), text.size(), format, args...);
  EXPECT_TRUE(length >= 0 && static_cast<size_t>(length) < text.size());
  text.resize(static_cast<size_t>(length));
  return text;
}

inline std::string Opening() { return std::string(texts::kInitializing) + texts::kSearchStarted; }

inline std::string Started(int count, const fs::path& folder, const std::string& name) {
  return Text(texts::kFileStarted, count, (ToolFolderText(folder) + name).c_str());
}

// The two console lines of a file that was listed and digested.
inline std::string Listed(int count, const fs::path& folder, const std::string& name,
                          const std::string& digest) {
  return Started(count, folder, name) + Text(texts::kFileDone, name.c_str(), digest.c_str());
}

// Opening() and the lines of every file of `files` (name, digest), counted from 1.
inline std::string ListedAll(const fs::path& folder, const List& files) {
  std::string lines = Opening();
  int count = 0;
  for (const auto& [name, digest] : files) lines += Listed(++count, folder, name, digest);
  return lines;
}

inline std::string WriteFailed(const fs::path& folder, const char* name) {
  return Text(texts::kWriteFailed, (ToolFolderText(folder) + name).c_str());
}

inline std::string Unopenable(const fs::path& folder, const char* name) {
  return Text(texts::kSourceUnopenable, (ToolFolderText(folder) + name).c_str());
}

// "value_key<i>=key\r\nvalue_<i>=value\r\n" for each pair, from index 0.
inline std::string Entries(const List& list) {
  std::string lines;
  for (size_t i = 0; i < list.size(); ++i) {
    lines += "value_key" + std::to_string(i) + "=" + list[i].first + "\r\nvalue_" +
             std::to_string(i) + "=" + list[i].second + "\r\n";
  }
  return lines;
}

// A whole list section as the tool writes it into a new file.
inline std::string NewListFile(const List& list) {
  return "[file]\r\nvalue_count=" + std::to_string(list.size()) + "\r\n" + Entries(list);
}

// The update list of `files` (name, digest), already in key order, with addresses under `url`.
inline List UpdateList(const List& files, const std::string& url) {
  List list;
  for (const auto& [name, digest] : files)
    list.emplace_back(name + "|" + digest, url + "/client/" + name);
  return list;
}

// The console output must be `expected` once each of `toldOnce` (told wherever the run writes
// a list) has been taken out; each of those must appear exactly once.
inline void ExpectOutput(std::string output, const std::string& expected,
                         const std::vector<std::string>& toldOnce = {}) {
  for (const std::string& text : toldOnce) {
    size_t at = output.find(text);
    ASSERT_NE(at, std::string::npos) << "missing: " << text << "\nin: " << output;
    output.erase(at, text.size());
    EXPECT_EQ(output.find(text), std::string::npos) << "told twice: " << text;
  }
  EXPECT_EQ(output, expected);
}

// Equality of large texts without printing them whole.
inline void ExpectSameBytes(const std::string& actual, const std::string& expected,
                            const char* what) {
  if (actual == expected) return;
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  ADD_FAILURE() << what << ": " << actual.size() << " bytes instead of " << expected.size()
                << ", first difference at " << at << ": \""
                << actual.substr(at > 40 ? at - 40 : 0, 120) << "\" instead of \""
                << expected.substr(at > 40 ? at - 40 : 0, 120) << "\"";
}

// The names in `folder`, as UTF-8, sorted.
inline std::vector<std::string> FolderNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(reinterpret_cast<const char*>(entry.path().filename().u8string().c_str()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline constexpr char kGame[] = "[game]\nid=7\n";
inline constexpr char kSet[] = "[video]\r\nwidth=800\r\n";

}  // namespace hostile_inputs
