#include "digest/digest_queue.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "digest/digest_file.h"
#include "platform/platform.h"

namespace {

// All lane buffers of all workers together stay below this; a buffer holds at most
// kLargestRead bytes, which one read fills.
constexpr size_t kBufferBudget = 8u << 20;
constexpr size_t kLargestRead = 256u << 10;
constexpr size_t kSmallestRead = 16u << 10;
// In front of each buffer: room for the partial block that the other buffer left over, so that
// a lane's bytes stay contiguous.
constexpr size_t kTailRoom = kMd5BlockSize;

struct Buffer {
  std::unique_ptr<unsigned char[]> storage;
  size_t size = 0;      // bytes read into it
  bool full = false;    // read and not yet taken by the lane; under the lock
  bool last = false;    // the read met the end of the file
  bool failed = false;  // a read failed
  unsigned char* data() { return storage.get() + kTailRoom; }
};

// One file in a worker's lane. The worker alone touches it, except `file` and the buffer being
// filled, which belong to the thread filling it until it marks the buffer full under the lock.
struct Lane {
  size_t fileIndex = 0;
  platform::InputFile file;
  Buffer buffers[2];
  int current = 0;      // the buffer whose bytes the lane appends
  bool ended = false;   // the current buffer holds the end of the file
  bool failed = false;  // the file could not be read to its end
};

struct ReadJob {
  Lane* lane;
  Buffer* buffer;
};

// Reads into `buffer` until it is full or the file ends, closing the file at its end.
void Fill(platform::InputFile& file, Buffer& buffer, size_t capacity) {
  buffer.size = 0;
  buffer.last = false;
  buffer.failed = false;
  while (buffer.size < capacity) {
    std::int64_t got = file.Read(buffer.data() + buffer.size, capacity - buffer.size);
    if (got <= 0) {
      buffer.last = true;
      buffer.failed = got < 0;
      break;
    }
    buffer.size += static_cast<size_t>(got);
  }
  if (buffer.last) file = platform::InputFile();
}

}  // namespace

struct CDigestQueue::State {
  State(const platform::Folder& folder, std::vector<std::string> paths, int workers, Md5Level level)
      : folder(folder),
        paths(std::move(paths)),
        results(this->paths.size()),
        kernel(Md5KernelFor(level)) {
    int wanted = std::max(workers, 0);
    size_t perBuffer = kBufferBudget / (2 * static_cast<size_t>(std::max(wanted, 1)) *
                                        static_cast<size_t>(kernel.laneCount));
    readSize = std::clamp(perBuffer / kMd5BlockSize * kMd5BlockSize, kSmallestRead, kLargestRead);
    freeLanes.assign(static_cast<size_t>(wanted), kernel.laneCount);
    hasClaimed.assign(static_cast<size_t>(wanted), false);
  }

  void RunWorker(size_t worker);
  bool ServeOneRead(std::unique_lock<std::mutex>& lock);

  const platform::Folder& folder;
  const std::vector<std::string> paths;  // the files' names in `folder`
  struct Result {
    FileDigest digest;
    bool done = false;
  };
  std::vector<Result> results;
  const Md5Kernel kernel;
  size_t readSize = kLargestRead;

  std::mutex mutex;
  std::condition_variable changed;      // for the workers: a read done, work to claim, the end
  std::condition_variable resultReady;  // for the owner
  // Everything below is guarded by `mutex`.
  size_t nextClaim = 0;
  std::vector<int> freeLanes;    // per worker
  std::vector<bool> hasClaimed;  // per worker: it has taken its first files
  size_t filesInLanes = 0;
  std::deque<ReadJob> reads;
  size_t readsUnderWay = 0;
  size_t doneInOrder = 0;  // the results from the first on that are done
  bool ownerWaiting = false;
  size_t ownerWaitsUntil = 0;
  bool stopping = false;

  std::vector<std::thread> workers;
};

namespace {

// The lanes of one worker and what they need between two steps of the kernel.
class LaneSet {
 public:
  LaneSet(CDigestQueue::State& state, size_t worker)
      : m_State(state),
        m_Worker(worker),
        m_Lanes(static_cast<size_t>(state.kernel.laneCount)),
        m_Md5(m_Lanes.size()),
        m_InUse(m_Lanes.size(), false) {
    for (Md5Lane& md5 : m_Md5) md5.active = false;
  }

  // Takes files into free lanes while this worker may; reads each one's first piece.
  void Claim(std::unique_lock<std::mutex>& lock);
  // Moves every lane on, under the lock: finishes the lanes whose file ended (false when it
  // finished none, so that the worker claims files for them first), counting in `ready` those
  // with a block to append and setting `allReady` when that is every lane in use.
  bool Advance(size_t& ready, bool& allReady);
  // Appends what the ready lanes hold.
  void Step(bool alone);
  size_t InUse() const { return m_Count; }

 private:
  bool MayClaim() const;
  void Start(size_t slot, size_t fileIndex);
  // Publishes the lane's result and frees it; under the lock.
  void Finish(size_t slot);

  CDigestQueue::State& m_State;
  size_t m_Worker;
  std::vector<Lane> m_Lanes;
  std::vector<Md5Lane> m_Md5;  // the lanes' MD5 state, side by side for the kernel
  std::vector<bool> m_InUse;
  size_t m_Count = 0;
};

bool LaneSet::MayClaim() const {
  // Files go to the first workers' free lanes first: a worker with a full set of lanes digests
  // fastest, and the workers without files read for it. So a worker waits for those before it
  // to take their first files, and takes only what their free lanes leave.
  size_t unclaimed = m_State.paths.size() - m_State.nextClaim;
  size_t before = 0;
  for (size_t worker = 0; worker < m_Worker; ++worker) {
    if (!m_State.hasClaimed[worker]) return false;
    before += static_cast<size_t>(m_State.freeLanes[worker]);
  }
  return unclaimed > before;
}

void LaneSet::Claim(std::unique_lock<std::mutex>& lock) {
  // All at once, so that no other worker takes files between them.
  std::vector<std::pair<size_t, size_t>> taken;  // slot, file
  while (m_Count < m_Lanes.size() && MayClaim()) {
    size_t slot =
        static_cast<size_t>(std::find(m_InUse.begin(), m_InUse.end(), false) - m_InUse.begin());
    taken.emplace_back(slot, m_State.nextClaim++);
    --m_State.freeLanes[m_Worker];
    ++m_State.filesInLanes;
    m_InUse[slot] = true;
    ++m_Count;
  }
  if (!taken.empty() || !m_State.hasClaimed[m_Worker]) {
    m_State.hasClaimed[m_Worker] = true;
    // The next worker may take what this one left.
    m_State.changed.notify_all();
  }
  if (taken.empty()) return;
  lock.unlock();
  for (const auto& [slot, fileIndex] : taken) Start(slot, fileIndex);
  lock.lock();
}

void LaneSet::Start(size_t slot, size_t fileIndex) {
  Lane& lane = m_Lanes[slot];
  lane.fileIndex = fileIndex;
  lane.current = 0;
  lane.failed = false;
  for (Buffer& buffer : lane.buffers) {
    if (!buffer.storage) buffer.storage.reset(new unsigned char[kTailRoom + m_State.readSize]);
    buffer.full = false;
  }
  lane.file = platform::InputFile::Open(m_State.folder, m_State.paths[fileIndex]);
  Buffer& first = lane.buffers[0];
  if (!lane.file.IsOpen()) {
    first.size = 0;
    lane.ended = true;
    lane.failed = true;
  } else {
    // The first piece is read at once: most files of a release end within it.
    Fill(lane.file, first, m_State.readSize);
    lane.ended = first.last;
    lane.failed = first.failed;
  }
  Md5StartLane(m_Md5[slot], first.data(), lane.failed ? 0 : first.size);
  if (!lane.ended) {
    std::lock_guard guard(m_State.mutex);
    m_State.reads.push_back({&lane, &lane.buffers[1]});
    m_State.changed.notify_all();
  }
}

void LaneSet::Finish(size_t slot) {
  Lane& lane = m_Lanes[slot];
  FileDigest result;
  if (!lane.failed) {
    Md5FinishLane(m_Md5[slot], result.digest);
    result.read = true;
  }
  m_Md5[slot].active = false;
  m_InUse[slot] = false;
  --m_Count;
  ++m_State.freeLanes[m_Worker];
  --m_State.filesInLanes;
  m_State.results[lane.fileIndex].digest = result;
  m_State.results[lane.fileIndex].done = true;
  auto& results = m_State.results;
  while (m_State.doneInOrder < results.size() && results[m_State.doneInOrder].done) {
    ++m_State.doneInOrder;
  }
  if (m_State.ownerWaiting && m_State.doneInOrder >= m_State.ownerWaitsUntil) {
    m_State.resultReady.notify_one();
  }
  // The last file: the workers waiting for work may stop.
  if (m_State.filesInLanes == 0 && m_State.nextClaim == m_State.paths.size()) {
    m_State.changed.notify_all();
  }
}

bool LaneSet::Advance(size_t& ready, bool& allReady) {
  ready = 0;
  bool finished = false;
  for (size_t slot = 0; slot < m_Lanes.size(); ++slot) {
    if (!m_InUse[slot]) continue;
    Lane& lane = m_Lanes[slot];
    Md5Lane& md5 = m_Md5[slot];
    if (md5.available >= kMd5BlockSize) {
      ++ready;
      continue;
    }
    if (lane.ended) {
      Finish(slot);
      finished = true;
      continue;
    }
    Buffer& next = lane.buffers[1 - lane.current];
    if (!next.full) continue;  // its read is queued or under way
    // The partial block left over goes in front of the next piece.
    std::memcpy(next.data() - md5.available, md5.data, md5.available);
    md5.data = next.data() - md5.available;
    md5.available += next.failed ? 0 : next.size;
    next.full = false;
    lane.current = 1 - lane.current;
    lane.ended = next.last;
    lane.failed = next.failed;
    if (!lane.ended) {
      m_State.reads.push_back({&lane, &lane.buffers[1 - lane.current]});
      m_State.changed.notify_all();
    }
    --slot;  // look at the lane again with its new bytes
  }
  allReady = ready == m_Count;
  return finished;
}

void LaneSet::Step(bool alone) {
  if (alone) {
    // The one file left: the one-message code is as fast as a kernel with idle lanes is slow.
    for (Md5Lane& md5 : m_Md5) {
      if (!md5.active || md5.available < kMd5BlockSize) continue;
      size_t whole = md5.available / kMd5BlockSize * kMd5BlockSize;
      Md5Append(md5.context, md5.data, static_cast<int>(whole));
      md5.data += whole;
      md5.available -= whole;
    }
    return;
  }
  // Lanes still waiting for a read sit this step out.
  std::vector<size_t> resting;
  for (size_t slot = 0; slot < m_Md5.size(); ++slot) {
    if (m_Md5[slot].active && m_Md5[slot].available < kMd5BlockSize) {
      m_Md5[slot].active = false;
      resting.push_back(slot);
    }
  }
  Md5StepLanes(m_State.kernel, m_Md5);
  for (size_t slot : resting) m_Md5[slot].active = true;
}

}  // namespace

bool CDigestQueue::State::ServeOneRead(std::unique_lock<std::mutex>& lock) {
  if (reads.empty()) return false;
  ReadJob job = reads.front();
  reads.pop_front();
  ++readsUnderWay;
  lock.unlock();
  Fill(job.lane->file, *job.buffer, readSize);
  lock.lock();
  --readsUnderWay;
  job.buffer->full = true;
  changed.notify_all();
  return true;
}

void CDigestQueue::State::RunWorker(size_t worker) {
  LaneSet lanes(*this, worker);
  std::unique_lock lock(mutex);
  while (!stopping) {
    lanes.Claim(lock);
    size_t ready = 0;
    bool allReady = false;
    if (lanes.Advance(ready, allReady)) continue;  // lanes came free: fill them first
    if (lanes.InUse() == 0 && nextClaim == paths.size() && filesInLanes == 0) break;
    if (ready > 0 && allReady) {
      bool alone = lanes.InUse() == 1 && nextClaim == paths.size();
      lock.unlock();
      lanes.Step(alone);
      lock.lock();
    } else if (!ServeOneRead(lock)) {
      changed.wait(lock);
    }
  }
  // Stopped early: no thread may go on filling a lane of this worker once it is gone.
  reads.clear();
  while (readsUnderWay > 0) changed.wait(lock);
  changed.notify_all();
}

CDigestQueue::CDigestQueue(const platform::Folder& folder, std::vector<std::string> paths,
                           int workers, Md5Level level) {
  // Workers pay only when a second file is left to them; the owner digests a single one.
  int wanted = paths.size() > 1 ? std::max(workers, 0) : 0;
  m_State = std::make_unique<State>(folder, std::move(paths), wanted, level);
  for (int i = 0; i < wanted; ++i) {
    try {
      m_State->workers.emplace_back(
          [state = m_State.get(), i] { state->RunWorker(static_cast<size_t>(i)); });
    } catch (const std::system_error&) {
      // No more threads to be had: the missing workers' lanes are no lanes, so that the others
      // take every file.
      std::lock_guard lock(m_State->mutex);
      m_State->freeLanes.resize(static_cast<size_t>(i));
      m_State->hasClaimed.resize(static_cast<size_t>(i));
      break;
    }
  }
}

CDigestQueue::~CDigestQueue() {
  {
    std::lock_guard lock(m_State->mutex);
    m_State->stopping = true;
  }
  m_State->changed.notify_all();
  for (std::thread& worker : m_State->workers) worker.join();
}

FileDigest CDigestQueue::Next() {
  size_t index = m_NextHanded++;
  if (m_State->workers.empty()) {
    FileDigest result;
    result.read = DigestFile(m_State->folder, m_State->paths[index], result.digest) == 1;
    return result;
  }
  State& state = *m_State;
  std::unique_lock lock(state.mutex);
  if (!state.results[index].done) {
    // Woken once for a batch of results rather than for each: a small file costs a worker
    // less than waking a thread does.
    constexpr size_t kBatch = 16;
    state.ownerWaitsUntil = std::min(index + kBatch, state.results.size());
    state.ownerWaiting = true;
    state.resultReady.wait(lock, [&] { return state.doneInOrder >= state.ownerWaitsUntil; });
    state.ownerWaiting = false;
  }
  return state.results[index].digest;
}
