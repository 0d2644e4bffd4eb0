// Hostile inputs that need POSIX facilities, run end to end through the built Tabulon.exe: entries
// that are no readable file (links, a FIFO, a socket, a file whose read fails), a file past 4 GiB,
// list files that cannot be read or fail partway, list readers holding the old files open, a
// folder on a read-only file system and one on a full file system. hostile_inputs.md lists every
// case with its outcome.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <future>
#include <sstream>
#include <vector>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// Copies the tool into `folder` and runs it as RunTabulonIn does, through a shell that starts it
// by `command` followed by its path: "exec timeout 60" ends a run that waits forever (exit status
// 124) instead of hanging the test; "ulimit -n 64 && exec" lowers the limit of open files.
ToolRun RunTabulonBy(const fs::path& folder, const std::string& command) {
  const fs::path tool = folder / "Tabulon.exe";
  fs::copy_file(TABULON_EXE_PATH, tool);
  TempFolder scripts;
  const fs::path wrapper = scripts / "wrapper.sh";
  WriteBytes(wrapper, "#!/bin/sh\n" + command + " '" + tool.string() + "'\n");
  fs::permissions(wrapper, fs::perms::owner_all);
  return RunExecutable(wrapper);
}

// Copies the tool into `folder` and runs it there with the library `shim` preloaded, set up by
// `settings`.
ToolRun RunWithShim(const fs::path& folder, const char* shim, std::vector<std::string> settings) {
  fs::copy_file(TABULON_EXE_PATH, folder / "Tabulon.exe", fs::copy_options::overwrite_existing);
  settings.push_back(std::string("LD_PRELOAD=") + shim);
  // A sanitizer runtime must otherwise come first among the loaded libraries.
  const char* asanOptions = std::getenv("ASAN_OPTIONS");
  settings.push_back(std::string("ASAN_OPTIONS=") +
                     (asanOptions ? asanOptions + std::string(":") : "") +
                     "verify_asan_link_order=0");
  return RunCommand((folder / "Tabulon.exe").string(), {.environment = settings});
}

// The same with the read shim (tests/support/read_shim.cpp).
ToolRun RunWithReadShim(const fs::path& folder, std::vector<std::string> settings) {
  return RunWithShim(folder, TABULON_READ_SHIM_PATH, std::move(settings));
}

// A file changed by another program while the tool reads it is never listed, whatever the
// change: it is told unreadable and the run fails. The file, 2 MiB, is digested ahead on a digest
// thread; the read shim changes it after the first piece was read, or grows it between its open
// and its first read. For "retarget", zbig.bin is a link that is made to lead to another file.
// A read that fails after the first piece ("fail-read") ends the same way: the file is not
// listed with the digest of what came before (tests/golden/changed_while_read/).
TEST(HostileInputsPosix, AFileChangedWhileReadIsNeverListed) {
  for (const std::string change : {"truncate", "delete", "rewrite-ends", "grow", "grow-at-open",
                                   "replace", "retarget", "fail-read", "none"}) {
    SCOPED_TRACE(change);
    TempFolder folder;
    TempFolder outside;
    WriteConfigFiles(folder.path());
    const std::string big(2 << 20, 'b');
    std::vector<std::string> settings = {"TABULON_TEST_CHANGE_ON_READ=/zbig.bin",
                                         "TABULON_TEST_CHANGE=" + change};
    if (change == "fail-read") settings = {"TABULON_TEST_FAIL_READ_OF=/zbig.bin"};
    if (change == "retarget") {
      WriteBytes(outside / "zbig.bin", big);
      WriteBytes(outside / "other.bin", "other");
      fs::create_symlink(outside / "zbig.bin", folder / "zbig.bin");
      settings.push_back("TABULON_TEST_LINK=" + (folder / "zbig.bin").string());
      settings.push_back("TABULON_TEST_LINK_TO=" + (outside / "other.bin").string());
    } else {
      WriteBytes(folder / "zbig.bin", big);
    }
    ToolRun run = RunWithReadShim(folder.path(), settings);
    EXPECT_EQ(run.exitCode, change == "none" ? 0 : 1);
    ExpectGolden(change == "none" ? "changed_while_read/none" : "changed_while_read/changed",
                 folder.path(), run, {"update_file.ini"});
  }
}

// Entries that are no readable file: a dangling link, a FIFO (which must not make the run wait
// for a writer), a link to /proc/self/mem (it opens, but its read fails, even for root) and a
// socket are counted and reported unreadable; a folder and a link to one are passed over; a
// link to a file elsewhere is listed with that file's digest. An encoded copy that is a FIFO is
// listed as unreadable too, then refused as a destination instead of waiting for a reader
// forever; the other copies are written (tests/golden/no_readable_file/).
TEST(HostileInputsPosix, EntriesThatAreNoReadableFile) {
  TempFolder outside;
  WriteBytes(outside / "target.bin", "linked content");
  TempFolder folder;
  fs::create_symlink(folder / "nowhere", folder / "1-dangling");
  ASSERT_EQ(::mkfifo((folder / "2-fifo").c_str(), 0644), 0);
  fs::create_symlink("/proc/self/mem", folder / "3-mem");
  int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string socketPath = (folder / "4-socket").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(listener);
  fs::create_directory(folder / "5-dir");
  fs::create_directory_symlink(folder / "5-dir", folder / "6-dirlink");
  WriteBytes(folder / "7-ok.bin", "ok");
  fs::create_symlink(outside / "target.bin", folder / "8-filelink.bin");
  WriteConfigFiles(folder.path());
  ASSERT_EQ(::mkfifo((folder / "set_e.ini").c_str(), 0644), 0);

  ToolRun run = RunTabulonBy(folder.path(), "exec timeout 60");
  EXPECT_EQ(run.exitCode, 1);
  ExpectGolden("no_readable_file", folder.path(), run,
               {"update_file.ini", "client.ini", "game_e.ini", "client_e.ini"});
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(folder / "2-fifo")));
  EXPECT_TRUE(fs::is_fifo(folder / "set_e.ini"));
}

// A sparse file past 4 GiB is digested whole: its digest equals md5sum's.
TEST(HostileInputsPosix, FilePastFourGibibytesMatchesMd5sum) {
  TempFolder folder;
  const fs::path big = folder / "zbig.bin";
  const off_t size = (off_t{4} << 30) + 4097;
  {
    WriteBytes(big, "head");
    fs::resize_file(big, static_cast<uintmax_t>(size));
    FILE* file = std::fopen(big.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(::fseeko(file, size - 4, SEEK_SET), 0);
    std::fputs("tail", file);
    std::fclose(file);
  }
  WriteConfigFiles(folder.path());

  // md5sum reads the file while the tool does. The tool is copied first: a fork while the copy is
  // open for writing would keep it busy, and starting it would fail.
  fs::copy_file(TABULON_EXE_PATH, folder / "Tabulon.exe");
  auto reference = std::async(std::launch::async, [&] {
    std::string command = "md5sum '" + big.string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    char line[128] = {};
    if (pipe == nullptr || std::fgets(line, sizeof line, pipe) == nullptr) line[0] = '\0';
    if (pipe != nullptr) ::pclose(pipe);
    return std::string(line).substr(0, 32);
  });
  ToolRun run = RunExecutable(folder / "Tabulon.exe");
  const std::string digest = reference.get();
  ASSERT_EQ(digest.size(), 32u) << "md5sum gave no digest";

  EXPECT_EQ(run.exitCode, 0);
  ExpectGolden("past_four_gibibytes", folder.path(), run, {"update_file.ini", "client.ini"});
  EXPECT_NE(ReadBytes(folder / "client.ini").find("value_key3=zbig.bin\r\nvalue_3=" + digest),
            std::string::npos);
}

// The system lets the tool hold only 64 files open (soft and hard limit) in a folder of 300:
// the files opened ahead of the lanes stay within what is left, and every file is listed with
// md5sum's digest.
TEST(HostileInputsPosix, FewFilesOpenAtOnceStillListEveryFile) {
  TempFolder folder;
  for (int i = 0; i < 300; ++i) {
    WriteBytes(folder / ("data" + std::to_string(1000 + i) + ".bin"),
               std::string(static_cast<size_t>(i * 4099 % 300000), static_cast<char>(i)));
  }
  WriteConfigFiles(folder.path());
  const std::map<std::string, std::string> digests = IndependentDigests(folder.path());
  ASSERT_EQ(digests.size(), 303u);
  const ToolRun run = RunTabulonBy(folder.path(), "ulimit -n 64 && exec");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(CurrentList(ReadBytes(folder / "client.ini")), digests);
}

// A client.ini that cannot be read whole is not written over: its other sections could not be
// kept. One the tool may write but not read (mode 0200; the tool runs as nobody, since root reads
// any file), and one whose read fails partway (a disk error after its first 64 KiB: the read
// shim makes every read() of it after the first fail), is reported unreadable, not listed, not
// written and not encoded; no server URL is taken from what came before, so update_file.ini is
// not written either. client.ini keeps every byte and the run fails
// (tests/golden/unreadable_client_ini/<case>/).
TEST(HostileInputsPosix, AClientIniThatCannotBeReadWholeIsKept) {
  for (const std::string how : {"mode_0200", "read_fails_partway"}) {
    SCOPED_TRACE(how);
    TempFolder folder;
    std::string client = kClientIni + std::string("[launcher]\r\n");
    for (int i = 0; client.size() < 200 * 1024; ++i)
      client += "line" + std::to_string(i) + "=x\r\n";
    WriteConfigFiles(folder.path(), false);
    WriteBytes(folder / "client.ini", client);
    WriteBytes(folder / "z.bin", "z");
    ToolRun run;
    if (how == "mode_0200") {
      fs::permissions(folder / "client.ini", fs::perms::owner_write);
      fs::copy_file(TABULON_EXE_PATH, folder / "Tabulon.exe");
      GiveToUnprivilegedUser(folder.path());
      run = RunCommand((folder / "Tabulon.exe").string(), {.unprivileged = true});
      fs::permissions(folder / "client.ini", fs::perms::owner_read, fs::perm_options::add);
    } else {
      run = RunWithReadShim(folder.path(), {"TABULON_TEST_FAIL_READ_OF=/client.ini"});
    }
    EXPECT_EQ(run.exitCode, 1);
    ExpectGolden("unreadable_client_ini/" + how, folder.path(), run, {});
    ExpectSameBytes(ReadBytes(folder / "client.ini"), client, "client.ini");
    EXPECT_FALSE(fs::exists(folder / "update_file.ini"));
    EXPECT_FALSE(fs::exists(folder / "client_e.ini"));
  }
}

// A folder the tool may pass through but not list: its listing cannot start, the console says
// which folder, and nothing is written (tests/golden/unlistable_folder/).
TEST(HostileInputsPosix, AFolderThatCannotBeListedIsNamed) {
  TempFolder folder;
  WriteConfigFiles(folder.path());
  fs::copy_file(TABULON_EXE_PATH, folder / "Tabulon.exe");
  GiveToUnprivilegedUser(folder.path());
  fs::permissions(folder.path(), fs::perms::owner_write | fs::perms::owner_exec);

  ToolRun run = RunCommand((folder / "Tabulon.exe").string(), {.unprivileged = true});
  ExpectGolden("unlistable_folder", folder.path(), run, {});
  EXPECT_EQ(run.exitCode, 1);
  fs::permissions(folder.path(), fs::perms::owner_all);
  EXPECT_EQ(FolderNames(folder.path()),
            (std::vector<std::string>{"Tabulon.exe", "client.ini", "game.ini", "set.ini"}));
}

// Files of another user. Run as nobody, a list or encoded copy that belongs to another user and
// that nobody may not write is refused, as a read-only one is, even where the folder would let
// it be replaced; one nobody may write is replaced. Run as root, a file of nobody's stays
// nobody's, mode included. Only where the tests run as root, which can make such files.
TEST(HostileInputsPosix, FilesOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  struct Case {
    const char* file;
    bool runAsNobody;
    uid_t owner;
    fs::perms mode;
    bool replaced;
  };
  constexpr uid_t kRoot = 0;
  constexpr uid_t kNobody = 65534;
  const auto kReadable = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                         fs::perms::others_read;
  for (const Case& c : {Case{"client.ini", true, kRoot, kReadable, false},
                        Case{"set_e.ini", true, kRoot, kReadable, false},
                        Case{"client.ini", true, kRoot, kReadable | fs::perms::others_write, true},
                        Case{"client.ini", false, kNobody, kReadable, true},
                        Case{"update_file.ini", false, kNobody,
                             fs::perms::owner_read | fs::perms::owner_write, true}}) {
    SCOPED_TRACE(std::string(c.file) + (c.runAsNobody ? " as nobody" : " as root"));
    TempFolder folder;
    WriteConfigFiles(folder.path());
    WriteBytes(folder / "update_file.ini", "[file]\r\n");
    WriteBytes(folder / "set_e.ini", "old\r\n");
    WriteBytes(folder / "z.bin", "z");
    fs::copy_file(TABULON_EXE_PATH, folder / "Tabulon.exe");
    GiveToUnprivilegedUser(folder.path());
    const fs::path file = folder / c.file;
    const std::string before = ReadBytes(file);
    ASSERT_EQ(::chown(file.c_str(), c.owner, c.owner), 0);
    fs::permissions(file, c.mode);

    ToolRun run = RunCommand((folder / "Tabulon.exe").string(), {.unprivileged = c.runAsNobody});
    EXPECT_EQ(run.exitCode, c.replaced ? 0 : 1) << run.output;
    EXPECT_EQ(Contains(run.output, WriteFailed(folder.path(), c.file)), !c.replaced);
    EXPECT_EQ(ReadBytes(file) != before, c.replaced);
    struct stat after;
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    // Replaced by nobody, another user's file cannot stay theirs; what nobody may write anyway.
    EXPECT_EQ(after.st_uid, c.replaced && c.runAsNobody ? kNobody : c.owner);
    EXPECT_EQ(fs::status(file).permissions(), c.mode);
  }
}

// The lists and the encoded copies are replaced, never written in place, each on the disk before
// it takes the old file's place: its temporary file is flushed before the rename, and the folder
// after it, so that a crash leaves the old or the new file, never an empty one. After a run the
// paths name new files, and a reader that opened the old ones before it still reads their old
// bytes. A preloaded library records the flushes and renames in their order.
TEST(HostileInputsPosix, ReplacedFilesAreNewFilesFlushedBeforeTheRename) {
  TempFolder folder;
  WriteConfigFiles(folder.path());
  WriteBytes(folder / "z.bin", "z");
  ToolRun former = RunTabulonIn(folder.path());
  ASSERT_EQ(former.exitCode, 0) << former.output;
  WriteBytes(folder / "z.bin", "changed");
  WriteBytes(folder / "set.ini", "[video]\r\nwidth=1024\r\n");

  struct OpenedBefore {
    const char* name;
    int fd;
    std::string bytes;
  };
  std::vector<OpenedBefore> opened;
  for (const char* name : {"client.ini", "update_file.ini", "set_e.ini"}) {
    opened.push_back({name, ::open((folder / name).c_str(), O_RDONLY), ReadBytes(folder / name)});
    ASSERT_GE(opened.back().fd, 0) << name;
  }
  TempFolder records;
  ToolRun run = RunWithShim(folder.path(), TABULON_SYNC_ORDER_SHIM_PATH,
                            {"TABULON_TEST_SYNC_LOG=" + (records / "calls").string()});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  for (const OpenedBefore& file : opened) {
    struct stat before, now;
    ASSERT_EQ(::fstat(file.fd, &before), 0);
    ASSERT_EQ(::stat((folder / file.name).c_str(), &now), 0);
    EXPECT_NE(before.st_ino, now.st_ino) << file.name << " was written in place";
    std::string stillThere(file.bytes.size() + 1, '\0');
    ssize_t got = ::pread(file.fd, stillThere.data(), stillThere.size(), 0);
    stillThere.resize(got < 0 ? 0 : static_cast<size_t>(got));
    EXPECT_EQ(stillThere, file.bytes) << file.name;
    EXPECT_NE(ReadBytes(folder / file.name), file.bytes) << file.name << " did not change";
    ::close(file.fd);
  }

  std::vector<std::string> calls;
  std::istringstream log(ReadBytes(records / "calls"));
  for (std::string line; std::getline(log, line);) calls.push_back(line);
  const std::string place = fs::canonical(folder.path()).string();
  for (const char* name :
       {"update_file.ini", "client.ini", "set_e.ini", "game_e.ini", "client_e.ini"}) {
    SCOPED_TRACE(name);
    const std::string target = " " + place + "/" + name;
    auto renamed = std::find_if(calls.rbegin(), calls.rend(), [&](const std::string& call) {
      return call.starts_with("rename ") && call.ends_with(target);
    });
    ASSERT_NE(renamed, calls.rend()) << "never renamed into place";
    const std::string temporary = renamed->substr(7, renamed->size() - 7 - target.size());
    EXPECT_TRUE(std::find(renamed, calls.rend(), "sync " + temporary) != calls.rend())
        << temporary << " was not flushed before its rename";
    EXPECT_TRUE(std::find(calls.rbegin(), renamed, "sync " + place) != renamed)
        << "the folder was not flushed after the rename";
  }
}

// A release folder of four files and the tool on a tmpfs of its own, unmounted when it goes.
struct MountedRelease {
  TempFolder parent;
  fs::path folder = parent.path() / "release";
  bool mounted = false;

  ~MountedRelease() {
    if (mounted) ::umount2(folder.c_str(), MNT_DETACH);
  }

  // Mounts the tmpfs with `spare` bytes left over after the files. Returns false, with the
  // reason, when mounting is not possible here (no privilege, no mount in this container).
  bool Create(uintmax_t spare, std::string& reason) {
    fs::create_directories(folder);
    std::string options =
        "size=" + std::to_string(fs::file_size(TABULON_EXE_PATH) + spare) + ",mode=0755";
    mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (!mounted) {
      reason = std::strerror(errno);
      return false;
    }
    fs::copy_file(TABULON_EXE_PATH, folder / "Tabulon.exe");
    WriteConfigFiles(folder);
    WriteBytes(folder / "z.bin", "z");
    return true;
  }

  // Runs the tool, which must digest every file, report each list and encoded copy as not
  // written and fail, and leave client.ini as it was (tests/golden/unwritable_folder/).
  void RunAndExpectNothingWritten() const {
    ToolRun run = RunExecutable(folder / "Tabulon.exe");
    EXPECT_EQ(run.exitCode, 1);
    ExpectGolden("unwritable_folder", folder, run, {"client.ini"});
  }
};

// A folder that cannot be written, even by root: every file is digested, each list file and each
// encoded file is reported as not written, nothing in the folder changes.
TEST(HostileInputsPosix, ReadOnlyFileSystem) {
  MountedRelease release;
  std::string reason;
  if (!release.Create(1 << 20, reason)) GTEST_SKIP() << "cannot mount a tmpfs here: " << reason;
  ASSERT_EQ(::mount(nullptr, release.folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
      << std::strerror(errno);
  const std::vector<std::string> before = FolderNames(release.folder);

  release.RunAndExpectNothingWritten();
  EXPECT_EQ(FolderNames(release.folder), before);
}

// A full file system: the lists and the encoded copies cannot be written and are reported,
// client.ini keeps its bytes, and no temporary file or cut copy is left.
TEST(HostileInputsPosix, FullFileSystem) {
  MountedRelease release;
  std::string reason;
  if (!release.Create(256 << 10, reason)) GTEST_SKIP() << "cannot mount a tmpfs here: " << reason;
  const fs::path& folder = release.folder;
  {
    // The dot keeps the filler out of the lists.
    FILE* filler = std::fopen((folder / ".filler").c_str(), "wb");
    ASSERT_NE(filler, nullptr);
    std::setvbuf(filler, nullptr, _IONBF, 0);
    const std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
    }
    while (std::fputc('f', filler) != EOF) {
    }
    std::fclose(filler);
  }

  release.RunAndExpectNothingWritten();
  EXPECT_EQ(ReadBytes(folder / "client.ini"), kClientIni);
  EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{".filler", "Tabulon.exe", "client.ini",
                                                           "game.ini", "set.ini", "z.bin"}));
}

}  // namespace
