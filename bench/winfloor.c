/* The floor for a folder digest by a Windows program, for bench/run.sh: it lists the folder of
   its own executable, opens and reads every file once (no digest) and prints two lines per file
   through a 64 KiB buffer of standard output. Whatever the Windows Tabulon.exe costs beyond this
   on a folder of small files is its own; under Wine this is what any Windows program doing the
   job pays. The script builds it with MinGW-w64:
     x86_64-w64-mingw32-gcc -O2 -municode -o winfloor.exe bench/winfloor.c */
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

int wmain(void) {
  static wchar_t dir[32768], pattern[32768], path[32768];
  static char buf[1 << 16];
  DWORD n = GetModuleFileNameW(NULL, dir, 32768);
  wchar_t *slash = wcsrchr(dir, L'\\');
  if (!n || n >= 32768 || !slash) return 2;
  slash[1] = 0;
  swprintf(pattern, 32768, L"%ls*.*", dir);
  setvbuf(stdout, NULL, _IOFBF, 1 << 16);
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW(pattern, &fd);
  if (find == INVALID_HANDLE_VALUE) return 1;
  unsigned long long total = 0, files = 0;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    swprintf(path, 32768, L"%ls%ls", dir, fd.cFileName);
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (h == INVALID_HANDLE_VALUE) continue;
    DWORD got;
    while (ReadFile(h, buf, sizeof buf, &got, NULL) && got) total += got;
    CloseHandle(h);
    ++files;
    printf("%llu::%ls read......\n===>>>>>>%ls done,MD5:00000000000000000000000000000000......\n",
           files, path, fd.cFileName);
  } while (FindNextFileW(find, &fd));
  FindClose(find);
  fflush(stdout);
  return 0;
}
