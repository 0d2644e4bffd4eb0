// Threads: RunTabulon is the whole run; it runs on one thread, once per process.
#pragma once

#include "digest/md5_lanes.h"

// How a run goes about its work; every choice gives the same files and console bytes.
struct RunOptions {
  // Write both lists after every file, rather than only before the scan reads one of the two
  // INI files itself and when it ends.
  bool writeAfterEveryFile = false;
  // Threads that digest files ahead of their turn while the scan prints and writes in listing
  // order; kAutomaticWorkers takes one per hardware thread, up to kMostWorkers. With none, each
  // file is digested at its turn on the scan's thread.
  static constexpr int kAutomaticWorkers = -1;
  static constexpr int kMostWorkers = 8;
  int digestWorkers = kAutomaticWorkers;
  // The widest MD5 kernel the workers may use; the machine's own limit applies on top.
  Md5Level md5Level = Md5Level::kAvx512;
};

// One run of the tool: the two file lists, then the encoded configuration files, the closing
// text and the keystroke wait. Returns the exit status: 0 when everything succeeded, 1 when
// anything failed.
int RunTabulon(const RunOptions& options = {});
