// Tabulon with its MD5 kernel held to one level, for bench/run.sh: "Tabulon.exe portable",
// "avx2" or "avx512" (a level the machine lacks falls to the best one it has). With "one-thread"
// every file is digested at its turn on the scan's thread. Without an argument it is Tabulon.
#include <cstring>

#include "app/run.h"

int main(int argc, char** argv) {
  RunOptions options;
  const char* choice = argc > 1 ? argv[1] : "";
  for (Md5Level level : {Md5Level::kPortable, Md5Level::kAvx2, Md5Level::kAvx512}) {
    if (std::strcmp(choice, Md5LevelName(level)) == 0) options.digesting.level = level;
  }
  if (std::strcmp(choice, "one-thread") == 0) options.digesting.workers = 0;
  return RunTabulon(options);
}
