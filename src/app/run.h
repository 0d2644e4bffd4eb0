// Threads: RunTabulon is the whole run; it runs on one thread, once per process.
#pragma once

#include "digest/digest_queue.h"

// How a run goes about its work; every choice gives the same files and console bytes.
struct RunOptions {
  // Write both lists after every file, rather than only before the scan reads one of the two
  // INI files itself and when it ends.
  bool writeAfterEveryFile = false;
  // The threads that digest files ahead of their turn while the scan prints and writes in
  // listing order, and their MD5 kernel.
  DigestPlan digesting;
};

// One run of the tool: the two file lists, then the encoded configuration files, the closing
// text and the keystroke wait. Returns the exit status: 0 when everything succeeded, 1 when
// anything failed.
int RunTabulon(const RunOptions& options = {});
