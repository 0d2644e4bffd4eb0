#include "digest/digest_queue.h"

#include <system_error>

#include "digest/digest_file.h"

CDigestQueue::CDigestQueue(std::vector<std::string> paths, int workers)
    : m_Paths(std::move(paths)), m_Slots(m_Paths.size()) {
  // The owner digests too while it waits: a worker pays only when a second file is left to it.
  for (int i = 0; i < workers && static_cast<size_t>(i) + 1 < m_Paths.size(); ++i) {
    try {
      m_Workers.emplace_back([this] {
        while (DigestNextUnclaimed()) {
        }
      });
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the owner and the others share the work
    }
  }
}

CDigestQueue::~CDigestQueue() {
  {
    std::lock_guard lock(m_Mutex);
    m_Stopping = true;
  }
  for (std::thread& worker : m_Workers) worker.join();
}

FileDigest CDigestQueue::Next() {
  size_t index = m_NextHanded++;
  std::unique_lock lock(m_Mutex);
  while (!m_Slots[index].done) {
    if (m_NextClaim < m_Paths.size()) {
      lock.unlock();
      DigestNextUnclaimed();
      lock.lock();
    } else {
      m_Digested.wait(lock);
    }
  }
  return m_Slots[index].result;
}

bool CDigestQueue::DigestNextUnclaimed() {
  size_t index;
  {
    std::lock_guard lock(m_Mutex);
    if (m_Stopping || m_NextClaim == m_Paths.size()) return false;
    index = m_NextClaim++;
  }
  // Only this thread touches the slot until it is marked done.
  FileDigest result;
  result.read = DigestFile(m_Paths[index], result.digest) == 1;
  {
    std::lock_guard lock(m_Mutex);
    m_Slots[index].result = result;
    m_Slots[index].done = true;
  }
  m_Digested.notify_all();
  return true;
}
