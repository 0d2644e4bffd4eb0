// Tabulon.exe writes the lists only when the scan needs them on disk and when it ends, and
// digests files ahead on other threads. These tests run its code, with two digest threads
// whatever the machine has, next to a tool that does its work the plain way (both lists after
// every file, every file at its turn on one thread) over identical copies of the same folder,
// and require the same console bytes, the same exit status and the same files.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <system_error>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

using FolderSetup = std::function<void(const fs::path&)>;

struct Outcome {
  ToolRun run;
  // Every entry of the folder but the executable, by name: a file's bytes (through a link), or
  // "<folder>" for a folder.
  std::map<std::string, std::string> files;
};

// Builds the folder afresh at `folder`, runs `executable` there as Tabulon.exe and gathers what
// the run left. Both runs use the same path, so their console texts can be compared unchanged.
Outcome RunFresh(const fs::path& folder, const fs::path& executable, const FolderSetup& setup) {
  std::error_code error;
  // Windows removes no read-only file.
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(folder);
  fs::create_directory(folder);
  setup(folder);
  fs::copy_file(executable, folder / "Tabulon.exe");
  Outcome outcome;
  outcome.run = RunExecutable(folder / "Tabulon.exe");
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (name == "Tabulon.exe") continue;
    outcome.files[name] = entry.is_directory() ? "<folder>" : ReadBytes(entry.path());
  }
  return outcome;
}

// `text` without its first `part`.
std::string Without(std::string text, const std::string& part) {
  size_t at = text.find(part);
  if (at != std::string::npos) text.erase(at, part.size());
  return text;
}

// Runs both tools over the folder that `setup` builds and compares everything. Returns the
// outcome of the normal tool for further checks.
Outcome ExpectSameBothWays(const FolderSetup& setup, bool compareConsole = true) {
  TempFolder parent;
  // A Chinese name, as release folders have: every path the tool forms needs conversion.
  fs::path folder = Utf8Path(parent.path(), "发布目录");
  Outcome deferred = RunFresh(folder, TABULON_DIGEST_WORKERS_EXE_PATH, setup);
  Outcome eachFile = RunFresh(folder, TABULON_WRITE_EACH_FILE_EXE_PATH, setup);
  EXPECT_EQ(deferred.run.exitCode, eachFile.run.exitCode);
  if (compareConsole) {
    // Without a server URL, that update_file.ini is not written is told at the first write,
    // which comes at another moment either way.
    const std::string noUrl = WriteFailed(folder, "update_file.ini");
    EXPECT_EQ(Contains(deferred.run.output, noUrl), Contains(eachFile.run.output, noUrl));
    EXPECT_EQ(Without(deferred.run.output, noUrl), Without(eachFile.run.output, noUrl));
  }
  for (const auto& [name, bytes] : eachFile.files) {
    auto other = deferred.files.find(name);
    if (other == deferred.files.end()) {
      ADD_FAILURE() << name << " is missing after the deferred run";
    } else {
      EXPECT_EQ(other->second, bytes) << name;
    }
  }
  for (const auto& [name, bytes] : deferred.files) {
    EXPECT_TRUE(eachFile.files.count(name)) << name << " is only there after the deferred run";
  }
  return deferred;
}

std::string Numbered(const char* prefix, int count) {
  std::string names;
  for (int i = 0; i < count; ++i) {
    names += prefix;
    names += std::to_string(i);
    names += ".bin\n";
  }
  return names;
}

// Writes one small file of distinct content for every line of `names`.
void WriteFiles(const fs::path& folder, const std::string& names) {
  size_t start = 0;
  while (start < names.size()) {
    size_t end = names.find('\n', start);
    std::string name = names.substr(start, end - start);
    WriteBytes(Utf8Path(folder, name), "content of " + name + std::string(name.size() * 37, 'x'));
    start = end + 1;
  }
}

// The listing compares names after upper-casing them: "CLIENT.INI" comes after "A0.BIN" and
// "CLI.BIN" and "CLIENT.DAT", and before "CLIENTZ.BIN", "DATA0.BIN" and "ZLINK.INI".

TEST(ListWriting, ClientIniListedFirst) {
  Outcome outcome = ExpectSameBothWays([](const fs::path& folder) {
    WriteConfigFiles(folder);
    WriteFiles(folder, Numbered("data", 12));
  });
  EXPECT_EQ(outcome.run.exitCode, 0) << outcome.run.output;
  EXPECT_TRUE(Contains(outcome.files["client.ini"], "value_count=15\r\n"));
  EXPECT_TRUE(Contains(outcome.files["update_file.ini"], "value_key14="));
}

TEST(ListWriting, ClientIniListedInTheMiddle) {
  Outcome outcome = ExpectSameBothWays([](const fs::path& folder) {
    WriteConfigFiles(folder);
    WriteFiles(folder, Numbered("a", 5) + "cli.bin\nClient.dat\nclientz.bin\n" + Numbered("z", 4));
  });
  EXPECT_EQ(outcome.run.exitCode, 0) << outcome.run.output;
  EXPECT_TRUE(Contains(outcome.files["client.ini"], "value_count=15\r\n"));
}

TEST(ListWriting, ClientIniListedLast) {
  // Every other name sorts before it; without set.ini and game.ini the run fails alike.
  Outcome outcome = ExpectSameBothWays([](const fs::path& folder) {
    WriteBytes(folder / "client.ini", kClientIni);
    WriteFiles(folder, Numbered("b", 11) + "Client.dat\n");
  });
  EXPECT_EQ(outcome.run.exitCode, 1);
  EXPECT_TRUE(Contains(outcome.files["client.ini"], "value_count=13\r\n"));
}

TEST(ListWriting, LargerFilesAroundTheListFiles) {
  // Files large enough that digesting them ahead on a second thread overlaps the scan.
  Outcome outcome = ExpectSameBothWays([](const fs::path& folder) {
    WriteConfigFiles(folder);
    std::string bytes(384 * 1024, '\0');
    for (int i = 0; i < 30; ++i) {
      for (size_t at = 0; at < bytes.size(); at += 4096) bytes[at] = static_cast<char>(i + at);
      std::string name = i < 15 ? "a" : "p";
      name += std::to_string(i);
      WriteBytes(folder / (name + ".pak"), bytes);
    }
    std::error_code error;
    fs::create_symlink("client.ini", folder / "zlink.ini", error);
  });
  EXPECT_EQ(outcome.run.exitCode, 0) << outcome.run.output;
}

TEST(ListWriting, ThousandsOfChineseNames) {
  Outcome outcome = ExpectSameBothWays([](const fs::path& folder) {
    WriteConfigFiles(folder);
    WriteFiles(folder, Numbered("资源", 700) + Numbered("乗务", 500));
  });
  EXPECT_EQ(outcome.run.exitCode, 0) << outcome.run.output.substr(0, 2000);
  EXPECT_TRUE(Contains(outcome.files["client.ini"], "value_count=1203\r\n"));
}

TEST(ListWriting, FormerLongerListsAndOtherSectionsStay) {
  auto former = [](const std::string& head, bool update) {
    std::string text = head + "[file]\r\nvalue_count=24\r\nnote=keep me\r\n";
    for (int i = 0; i < 24; ++i) {
      std::string index = std::to_string(i);
      text += "value_key" + index + "=old" + index + (update ? ".bin|0123\r\n" : ".bin\r\n");
      text += "value_" + index + "=" + (update ? "http://old/client/old" + index : "0123") + "\r\n";
    }
    return text + "\r\n; trailing comment\r\n[other]\nkeep=this\n";
  };
  Outcome outcome = ExpectSameBothWays([&](const fs::path& folder) {
    WriteConfigFiles(folder, false);
    WriteBytes(folder / "client.ini", former(std::string(kClientIni) + "\r\n", false));
    WriteBytes(folder / "update_file.ini", former("", true));
    WriteFiles(folder, Numbered("a", 6) + Numbered("x", 5));
  });
  EXPECT_EQ(outcome.run.exitCode, 0) << outcome.run.output;
  EXPECT_TRUE(Contains(outcome.files["client.ini"], "value_count=14\r\n"));
  EXPECT_TRUE(Contains(outcome.files["client.ini"], "value_key23=old23.bin\r\n"));
  EXPECT_TRUE(Contains(outcome.files["update_file.ini"], "value_23=http://old/client/old23\r\n"));
}

TEST(ListWriting, ClientIniWithoutServerSectionOrWithAByteOrderMark) {
  for (bool withUrl : {false, true}) {
    std::string client =
        withUrl ? "\xEF\xBB\xBF[updateserver]\nURL=http://u8.example\n" : "[file]\nvalue_count=0\n";
    Outcome outcome = ExpectSameBothWays([&](const fs::path& folder) {
      WriteBytes(folder / "client.ini", client);
      WriteFiles(folder, Numbered("a", 3) + Numbered("z", 3));
    });
    EXPECT_EQ(outcome.files.count("update_file.ini"), withUrl ? 1u : 0u);
  }
}

TEST(ListWriting, OnlySkippedEntries) {
  Outcome outcome = ExpectSameBothWays([](const fs::path& folder) {
    WriteBytes(folder / ".hidden", "h");
    WriteBytes(folder / "Patchwell.exe", "p");
    fs::create_directory(folder / "sub");
  });
  EXPECT_FALSE(outcome.files.count("update_file.ini"));
}

TEST(ListWriting, NameOfTheUpdateListInCapitals) {
  // A distinct file where letter case counts; update_file.ini itself where it does not.
  ExpectSameBothWays([](const fs::path& folder) {
    WriteBytes(folder / "client.ini", kClientIni);
    WriteBytes(folder / "UPDATE_FILE.INI", "[file]\r\nvalue_count=0\r\n");
    WriteFiles(folder, Numbered("a", 4) + Numbered("v", 2));
  });
}

TEST(ListWriting, LinksToTheListFilesAreDigestedAsTheRunLeftThem) {
  bool linked = true;
  Outcome outcome = ExpectSameBothWays([&](const fs::path& folder) {
    WriteConfigFiles(folder);
    WriteFiles(folder, Numbered("a", 4) + Numbered("m", 3));
    std::error_code error;
    fs::create_symlink("client.ini", folder / "zlink.ini", error);
    // update_file.ini does not exist yet: the link leads to it once the run has written it.
    if (!error) fs::create_symlink("update_file.ini", folder / "b_update.lnk", error);
    linked = linked && !error;
  });
  if (!linked) GTEST_SKIP() << "links cannot be made here";
  EXPECT_EQ(outcome.run.exitCode, 0) << outcome.run.output;
  EXPECT_TRUE(Contains(outcome.files["client.ini"], "=zlink.ini\r\n"));
  EXPECT_TRUE(Contains(outcome.files["client.ini"], "=b_update.lnk\r\n"));
}

TEST(ListWriting, HardLinkToClientIni) {
  // Listed before client.ini, it is a name of client.ini until the first write replaces that.
  bool linked = true;
  ExpectSameBothWays([&](const fs::path& folder) {
    WriteBytes(folder / "client.ini", kClientIni);
    WriteFiles(folder, Numbered("a", 3) + Numbered("s", 3));
    std::error_code error;
    fs::create_hard_link(folder / "client.ini", folder / "chard.ini", error);
    linked = linked && !error;
  });
  if (!linked) GTEST_SKIP() << "hard links cannot be made here";
}

TEST(ListWriting, ClientIniThatIsALinkToAnotherListedFile) {
  bool linked = true;
  ExpectSameBothWays([&](const fs::path& folder) {
    WriteBytes(folder / "real.cfg", kClientIni);
    std::error_code error;
    fs::create_symlink("real.cfg", folder / "client.ini", error);
    linked = linked && !error;
    WriteFiles(folder, Numbered("a", 3) + Numbered("s", 3));
  });
  if (!linked) GTEST_SKIP() << "links cannot be made here";
}

TEST(ListWriting, ReadOnlyClientIniGivesTheSameFiles) {
  // The failure is reported once either way, but after another file: only the files and the
  // exit status are compared.
  Outcome outcome = ExpectSameBothWays(
      [](const fs::path& folder) {
        WriteConfigFiles(folder);
        WriteFiles(folder, Numbered("a", 3) + Numbered("z", 3));
        fs::permissions(folder / "client.ini", fs::perms::owner_read | fs::perms::group_read);
      },
      false);
  EXPECT_EQ(outcome.run.exitCode, 1);
  EXPECT_EQ(outcome.files["client.ini"], kClientIni);
}

}  // namespace
