// Digests a fixed list of files ahead of their turn, on worker threads, and hands the results
// back in the list's order.
//
// Each worker digests several files at once, one per lane of the MD5 kernel (8 with AVX2, 16
// with AVX-512), and takes the next file into a lane as soon as the lane's file ends. A lane
// reads its file in large pieces into two buffers, so that one is digested while the other is
// filled; any worker that has nothing better to do fills them, and files go to the first
// workers' lanes first, so that a few large files keep one worker's lanes full while the others
// read for it. Memory stays bounded whatever the files.
//
// Threads: one thread, the queue's owner, calls Next(). The workers share with it only the
// state behind the queue's lock; a lane's file and buffers are touched by one thread at a time,
// handed over under that lock.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "digest/md5_lanes.h"
#include "platform/platform.h"

struct FileDigest {
  bool read = false;  // false when the file could not be opened or read to its end
  unsigned char digest[kMd5DigestSize] = {};
};

class CDigestQueue {
 public:
  // Starts up to `workers` threads that digest the files named `paths` in `folder` in order with
  // the MD5 kernel of `level` (or the best level below it that the machine supports); fewer when
  // the system gives no more threads. With none, Next() digests each file itself, at its turn.
  // The folder must stay open as long as the queue.
  CDigestQueue(const platform::Folder& folder, std::vector<std::string> paths, int workers,
               Md5Level level);
  CDigestQueue(const CDigestQueue&) = delete;
  CDigestQueue& operator=(const CDigestQueue&) = delete;
  // Stops the workers after what they are doing and waits for them.
  ~CDigestQueue();

  // The result of the next file of the list, once it is digested. Must not be called more often
  // than there are paths.
  FileDigest Next();

  struct State;

 private:
  std::unique_ptr<State> m_State;
  size_t m_NextHanded = 0;
};
