// Starting the built tool on Windows (and under Wine).
#include <windows.h>
// wincrypt.h needs windows.h before it.
#include <wincrypt.h>

#include "platform/platform.h"
#include "support/test_support.h"

namespace testing_support {

namespace {

fs::path AbsolutePath(const fs::path& path) { return fs::absolute(path).make_preferred(); }

HANDLE InheritableCopy(HANDLE handle) {
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// A console stream in text mode writes CR LF for each LF; the tests compare LF texts.
std::string WithoutConsoleLineEnds(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(bytes[i]);
  }
  return text;
}

}  // namespace

// The absolute form with backslashes, as the tool's module path shows it (/tmp/x is Z:\tmp\x
// under Wine).
std::string ToolFolderText(const fs::path& folder) {
  std::string text = AnsiText(AbsolutePath(folder));
  // The last byte can be the second byte of a double-byte character, which is no separator.
  if (text.empty() || platform::FindLastSeparator(text) != text.size() - 1) text.push_back('\\');
  return text;
}

namespace {

// Runs `executable` with standard input at its end and standard output on the pipe whose ends
// are given; the write end is closed here. Returns what the pipe delivered and the number of
// reads that delivered something: on a message-mode pipe, the number of writes.
ToolRun RunOnPipe(const fs::path& executable, HANDLE outputRead, HANDLE outputWrite, int& reads) {
  ToolRun run;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                             OPEN_EXISTING, 0, nullptr);
  HANDLE error = InheritableCopy(GetStdHandle(STD_ERROR_HANDLE));

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = outputWrite;
  startup.hStdError = error;
  PROCESS_INFORMATION process{};
  // The wide service: a folder without an ANSI name is one of the cases the tests run.
  std::wstring path = AbsolutePath(executable).wstring();
  std::wstring commandLine = L"\"" + path + L"\"";
  // The tool must find its folder from its own path, not from the current folder.
  BOOL started = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                nullptr, L"C:\\", &startup, &process);
  // Only the child holds the write end now, so the reads below end when the child ends.
  CloseHandle(outputWrite);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (error != nullptr) CloseHandle(error);
  if (!started) {
    CloseHandle(outputRead);
    return run;
  }

  std::string bytes;
  // Larger than any one write of the tool, so that each read takes one whole message.
  std::string buffer(1 << 20, '\0');
  DWORD got = 0;
  reads = 0;
  while (ReadFile(outputRead, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
         got > 0) {
    bytes.append(buffer.data(), got);
    ++reads;
  }
  CloseHandle(outputRead);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.hProcess, &exitCode)) run.exitCode = static_cast<int>(exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  run.output = WithoutConsoleLineEnds(bytes);
  return run;
}

}  // namespace

ToolRun RunExecutable(const fs::path& executable) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outputRead = nullptr;
  HANDLE outputWrite = nullptr;
  if (!CreatePipe(&outputRead, &outputWrite, &inheritable, 0)) return {};
  SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
  int reads = 0;
  return RunOnPipe(executable, outputRead, outputWrite, reads);
}

CountedRun RunCountingOutputWrites(const fs::path& folder) {
  CountedRun counted;
  const fs::path executable = folder / "Tabulon.exe";
  fs::copy_file(TABULON_EXE_PATH, executable, fs::copy_options::overwrite_existing);
  static int pipes = 0;
  std::wstring name = L"\\\\.\\pipe\\tabulon-test-" + std::to_wstring(GetCurrentProcessId()) +
                      L"-" + std::to_wstring(++pipes);
  // Every write to a message-mode pipe is one message, which one read takes whole.
  HANDLE outputRead = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0,
                                       1 << 20, 0, nullptr);
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outputWrite =
      CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING, 0, nullptr);
  if (outputRead == INVALID_HANDLE_VALUE || outputWrite == INVALID_HANDLE_VALUE) {
    counted.unavailable = "no message-mode pipe could be made";
    if (outputRead != INVALID_HANDLE_VALUE) CloseHandle(outputRead);
    return counted;
  }
  counted.run = RunOnPipe(executable, outputRead, outputWrite, counted.writes);
  return counted;
}

bool IsWindowsBuild() { return true; }

std::map<std::string, std::string> IndependentDigests(const fs::path& folder) {
  std::map<std::string, std::string> digests;
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    return digests;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::string bytes = ReadBytes(entry.path());
    HCRYPTHASH hash = 0;
    BYTE digest[16];
    DWORD size = sizeof digest;
    bool ok = CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) &&
              CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()), 0) &&
              CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0);
    if (hash != 0) CryptDestroyHash(hash);
    if (!ok) {
      digests.clear();
      break;
    }
    std::string hex;
    for (BYTE byte : digest) {
      hex += "0123456789abcdef"[byte >> 4];
      hex += "0123456789abcdef"[byte & 15];
    }
    digests[AnsiText(entry.path().filename())] = hex;
  }
  CryptReleaseContext(provider, 0);
  return digests;
}

}  // namespace testing_support
