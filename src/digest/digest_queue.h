// Digests a fixed list of files ahead of their turn, on worker threads, and hands the results
// back in the list's order.
//
// Threads: one thread, the queue's owner, calls Next(). The workers that the queue starts call
// only DigestFile, each on files that it alone has claimed, and hand each result over under the
// queue's lock; the paths are only read.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "digest/md5.h"

struct FileDigest {
  bool read = false;  // false when the file could not be opened or read to its end
  unsigned char digest[kMd5DigestSize] = {};
};

class CDigestQueue {
 public:
  // Starts up to `workers` threads that digest `paths` in order; fewer when there are fewer
  // files to share or the system gives no more threads. With none, Next() digests every file.
  CDigestQueue(std::vector<std::string> paths, int workers);
  CDigestQueue(const CDigestQueue&) = delete;
  CDigestQueue& operator=(const CDigestQueue&) = delete;
  // Waits for the workers to finish the files they have claimed, and for no others.
  ~CDigestQueue();

  // The result of the next file of the list, once it is digested. While it waits, the calling
  // thread digests the next unclaimed files itself. Must not be called more often than there
  // are paths.
  FileDigest Next();

 private:
  // Claims the first unclaimed file and digests it. Returns false when none was left.
  bool DigestNextUnclaimed();

  struct Slot {
    FileDigest result;
    bool done = false;  // guarded by m_Mutex
  };

  const std::vector<std::string> m_Paths;
  std::vector<Slot> m_Slots;
  std::mutex m_Mutex;
  std::condition_variable m_Digested;
  size_t m_NextClaim = 0;   // guarded by m_Mutex
  size_t m_NextHanded = 0;  // the owner's alone
  bool m_Stopping = false;  // guarded by m_Mutex
  std::vector<std::thread> m_Workers;
};
