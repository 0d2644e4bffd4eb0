// Digests a fixed list of files and hands the results back in the list's order: the files that
// may be read ahead of their turn on worker threads, the others at their turn on the owner's.
//
// Each worker drives the lanes of the MD5 kernel (8 with AVX2, 16 with AVX-512) with a
// CMd5LaneDriver, one file per lane, and takes the next file into a lane as soon as the lane's
// file ends. The files are opened ahead, and the lanes take the largest first, so that none is
// left to run on alone at the end; a file so large that it would end last even so runs alone in
// a worker, on the faster one-message code, while the others fill the other workers' lanes. A
// lane reads its file in large pieces into two buffers, so that one is digested while the
// other is filled; any worker that has nothing better to do fills them. Memory and the files
// held open stay bounded whatever the files.
//
// Threads: one thread, the queue's owner, calls Next(). The workers share with it only the
// state behind the queue's lock (see digest_queue.cpp).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "digest/md5_lanes.h"
#include "platform/platform.h"

// How the files are digested; every plan gives the same digests.
struct DigestPlan {
  // Threads that digest files ahead of their turn; kAutomaticWorkers takes one per hardware
  // thread, up to kMostWorkers. With none, every file is digested at its turn.
  static constexpr int kAutomaticWorkers = -1;
  static constexpr int kMostWorkers = 8;
  int workers = kAutomaticWorkers;
  // The widest MD5 kernel the workers may use; the machine's own limit applies on top.
  Md5Level level = Md5Level::kAvx512;
};

struct QueuedFile {
  std::string name;  // in the queue's folder
  // Nothing done at the file's turn can change it, so it may be digested before.
  bool mayReadAhead = false;
};

struct FileDigest {
  bool read = false;  // false when the file could not be opened or read to its end
  unsigned char digest[kMd5DigestSize] = {};
};

class CDigestQueue {
 public:
  // Starts the workers of `plan` on the files of `folder` that may be read ahead, if there are
  // two or more of them; fewer workers when the system gives no more threads. The folder must
  // stay open as long as the queue.
  CDigestQueue(const platform::Folder& folder, std::vector<QueuedFile> files,
               const DigestPlan& plan);
  CDigestQueue(const CDigestQueue&) = delete;
  CDigestQueue& operator=(const CDigestQueue&) = delete;
  // Stops the workers after what they are doing and waits for them.
  ~CDigestQueue();

  // The result of the next file of the list: waits for a worker's, or digests the file now, on
  // this thread, when no worker may. Must not be called more often than there are files.
  FileDigest Next();

  struct State;

 private:
  const platform::Folder& m_Folder;
  const std::vector<QueuedFile> m_Files;
  std::unique_ptr<State> m_State;
  size_t m_NextFile = 0;
  size_t m_NextAhead = 0;  // the workers' results handed so far
};
