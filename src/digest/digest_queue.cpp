#include "digest/digest_queue.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "digest/digest_file.h"
#include "digest/md5_lane_driver.h"
#include "platform/platform.h"

namespace {

// All lane buffers of all workers together stay below this; a buffer holds at most
// kLargestRead bytes, which one read fills.
constexpr size_t kBufferBudget = 8u << 20;
constexpr size_t kLargestRead = 256u << 10;
constexpr size_t kSmallestRead = 16u << 10;

// A piece of a file, read into one of its lane's two buffers.
struct Piece {
  std::unique_ptr<unsigned char[]> bytes;
  size_t size = 0;
  bool endsFile = false;  // the read met the end of the file or failed: no piece follows
  bool failed = false;
};

// The file in one lane: the lane digests pieces[0] while pieces[1] is read.
struct LaneFile {
  platform::InputFile file;
  Piece pieces[2];
  bool nextRead = false;  // pieces[1] holds the next piece, not yet fed; under the lock
};

struct Worker {
  Worker(size_t place, const Md5Kernel& kernel, int laneCount)
      : place(place), lanes(kernel, laneCount), files(static_cast<size_t>(laneCount)) {}
  size_t place;  // among the workers: files go to the first ones' lanes first
  CMd5LaneDriver lanes;
  std::vector<LaneFile> files;  // by lane
  bool hasClaimed = false;      // it has taken its first files
  std::vector<int> starting;    // the lanes its claim under way filled
};

// A read of the next piece of a lane's file into the lane's pieces[1].
struct ReadJob {
  Worker* worker;
  int lane;
};

// Reads the next piece of `file` into `piece`, up to `capacity` bytes; closes the file at its end.
void ReadPiece(platform::InputFile& file, Piece& piece, size_t capacity) {
  piece.size = 0;
  piece.endsFile = !file.IsOpen();
  piece.failed = !file.IsOpen();
  while (!piece.endsFile && piece.size < capacity) {
    const std::int64_t got = file.Read(piece.bytes.get() + piece.size, capacity - piece.size);
    piece.endsFile = got <= 0;
    piece.failed = got < 0;
    if (got > 0) piece.size += static_cast<size_t>(got);
  }
  if (piece.endsFile) file = platform::InputFile();
}

// The buffers share kBufferBudget; whole blocks, so that a lane has no bytes left over between
// pieces.
size_t ReadSize(int workerCount, int laneCount) {
  const size_t buffers = 2 * static_cast<size_t>(std::max(workerCount, 1) * laneCount);
  const size_t perBuffer = kBufferBudget / buffers / kMd5BlockSize * kMd5BlockSize;
  return std::clamp(perBuffer, kSmallestRead, kLargestRead);
}

}  // namespace

struct CDigestQueue::State {
  State(const platform::Folder& folder, std::vector<std::string> aheadNames, int workerCount,
        Md5Level level);

  void RunWorker(Worker& worker);
  size_t ClaimableBy(const Worker& worker) const;
  void Claim(Worker& worker, std::unique_lock<std::mutex>& lock);
  void StartFile(Worker& worker, int lane);
  void Advance(Worker& worker);
  void FeedPiece(Worker& worker, int lane);
  bool ServeOneRead(std::unique_lock<std::mutex>& lock);
  void Publish(size_t file, const Md5Digest* digest);
  FileDigest WaitFor(size_t file);

  const platform::Folder& folder;
  const std::vector<std::string> names;  // of the files the workers digest, in listing order
  const Md5Kernel kernel;
  const size_t readSize;
  // Made before the threads start, freed after they all ended: a read still under way when the
  // queue is given up fills live buffers.
  std::vector<Worker> workers;
  std::vector<std::thread> threads;

  // Order and progress, under `mutex`:
  // - Each file is claimed once (nextClaim only grows) and published once into its own place of
  //   `results`; Next() waits for its place, so results leave in listing order.
  // - A lane that waits for bytes has its next piece queued in `reads`, under way, or read
  //   (nextRead): it never waits on nothing.
  // - A read needs nothing of its lane's worker: any worker whose lanes cannot step serves the
  //   first queued read, and a worker sleeps only when none is queued.
  // - The first worker takes files whenever it has free lanes; so every file is claimed, every
  //   claimed file is read and stepped to its end and published, and Next() returns.
  // - Leaving early: once `stopping`, a worker leaves after its step or read, and touches no
  //   other worker's reads; the lanes stay until every thread has ended.
  // A worker's lanes are its own, but their occupancy changes only under the lock, where the
  // claims of the others read it, and a lane's file and pieces[1] belong to the thread reading
  // them from the moment their read is queued until it sets nextRead.
  std::mutex mutex;
  std::condition_variable changed;      // for the workers: a read queued or done, files to
                                        // claim, the last file published, stopping
  std::condition_variable resultReady;  // for the owner
  size_t nextClaim = 0;                 // the first file no worker has taken
  std::deque<ReadJob> reads;
  struct Result {
    FileDigest digest;
    bool done = false;
  };
  std::vector<Result> results;
  size_t doneInOrder = 0;  // the results from the first on that are done
  bool ownerWaiting = false;
  size_t ownerWaitsUntil = 0;
  bool stopping = false;
};

CDigestQueue::State::State(const platform::Folder& folder, std::vector<std::string> aheadNames,
                           int workerCount, Md5Level level)
    : folder(folder),
      names(std::move(aheadNames)),
      kernel(Md5KernelFor(level)),
      readSize(ReadSize(workerCount, kernel.laneCount)),
      results(names.size()) {
  workers.reserve(static_cast<size_t>(workerCount));
  for (int i = 0; i < workerCount; ++i) {
    workers.emplace_back(static_cast<size_t>(i), kernel, kernel.laneCount);
  }
}

void CDigestQueue::State::RunWorker(Worker& worker) {
  std::unique_lock lock(mutex);
  while (!stopping && doneInOrder < names.size()) {
    Claim(worker, lock);
    Advance(worker);
    // Lanes that came free, in the claim (files that cannot be read) or since, are filled first.
    if (ClaimableBy(worker) > 0) continue;
    if (worker.lanes.CanStep()) {
      lock.unlock();
      worker.lanes.Step();
      lock.lock();
    } else if (!ServeOneRead(lock)) {
      changed.wait(lock);
    }
  }
}

// The files `worker` may take now. The unclaimed files go to the free lanes of the first workers
// first: a worker with every lane full runs the kernel at its best while the workers with nothing
// to step read for it, so a few large files fill one worker and the other cores read (split
// among half-full workers, each running its kernel half idle and reading for itself, eight
// files of 256 MiB took 1.4 times as long). So a worker takes only what the free lanes of those
// before it leave, and nothing before each of them has taken its first files.
size_t CDigestQueue::State::ClaimableBy(const Worker& worker) const {
  size_t left = names.size() - nextClaim;
  for (size_t place = 0; place < worker.place; ++place) {
    const Worker& before = workers[place];
    const size_t free = static_cast<size_t>(before.lanes.LaneCount() - before.lanes.Occupied());
    if (!before.hasClaimed || left <= free) return 0;
    left -= free;
  }
  return std::min(left, static_cast<size_t>(worker.lanes.LaneCount() - worker.lanes.Occupied()));
}

void CDigestQueue::State::Claim(Worker& worker, std::unique_lock<std::mutex>& lock) {
  const size_t count = ClaimableBy(worker);
  if (count == 0) return;
  // All at once, so that no other worker takes files between them.
  worker.starting.clear();
  for (size_t i = 0; i < count; ++i) worker.starting.push_back(worker.lanes.Submit(nextClaim++));
  worker.hasClaimed = true;
  changed.notify_all();  // the next worker may take what this one left
  lock.unlock();
  for (int lane : worker.starting) StartFile(worker, lane);
  lock.lock();
  for (int lane : worker.starting) FeedPiece(worker, lane);
}

// Opens the lane's file and reads its first piece, which most files of a release end within.
void CDigestQueue::State::StartFile(Worker& worker, int lane) {
  LaneFile& file = worker.files[static_cast<size_t>(lane)];
  for (Piece& piece : file.pieces) {
    if (!piece.bytes) piece.bytes.reset(new unsigned char[readSize]);
  }
  file.file = platform::InputFile::Open(folder, names[worker.lanes.MessageOf(lane)]);
  ReadPiece(file.file, file.pieces[0], readSize);
}

// Feeds the waiting lanes whose next piece is read and publishes the files that ended.
void CDigestQueue::State::Advance(Worker& worker) {
  for (int lane = 0; lane < worker.lanes.LaneCount(); ++lane) {
    LaneFile& file = worker.files[static_cast<size_t>(lane)];
    if (!worker.lanes.IsWaiting(lane) || !file.nextRead) continue;
    file.nextRead = false;
    std::swap(file.pieces[0], file.pieces[1]);
    FeedPiece(worker, lane);
  }
  size_t index;
  Md5Digest digest;
  while (worker.lanes.TakeFinished(index, digest)) Publish(index, &digest);
}

// Hands the lane its piece pieces[0] and queues the read of the next one. A failed read ends the
// file unread: none of its bytes may pass for the whole file.
void CDigestQueue::State::FeedPiece(Worker& worker, int lane) {
  const Piece& piece = worker.files[static_cast<size_t>(lane)].pieces[0];
  if (piece.failed) {
    Publish(worker.lanes.MessageOf(lane), nullptr);
    worker.lanes.Drop(lane);
    return;
  }
  worker.lanes.Feed(lane, piece.bytes.get(), piece.size, piece.endsFile);
  if (!piece.endsFile) {
    reads.push_back({&worker, lane});
    changed.notify_all();
  }
}

bool CDigestQueue::State::ServeOneRead(std::unique_lock<std::mutex>& lock) {
  if (reads.empty()) return false;
  const ReadJob job = reads.front();
  reads.pop_front();
  LaneFile& file = job.worker->files[static_cast<size_t>(job.lane)];
  lock.unlock();
  ReadPiece(file.file, file.pieces[1], readSize);
  lock.lock();
  file.nextRead = true;
  changed.notify_all();
  return true;
}

// Under the lock; `digest` is null for a file that could not be read to its end.
void CDigestQueue::State::Publish(size_t file, const Md5Digest* digest) {
  Result& result = results[file];
  result.digest.read = digest != nullptr;
  if (digest != nullptr) std::memcpy(result.digest.digest, digest->data(), kMd5DigestSize);
  result.done = true;
  while (doneInOrder < results.size() && results[doneInOrder].done) ++doneInOrder;
  if (ownerWaiting && doneInOrder >= ownerWaitsUntil) resultReady.notify_one();
  if (doneInOrder == results.size()) changed.notify_all();  // the workers may leave
}

FileDigest CDigestQueue::State::WaitFor(size_t file) {
  std::unique_lock lock(mutex);
  if (!results[file].done) {
    // Woken once for a batch of results rather than for each: a small file costs a worker
    // less than waking a thread does.
    constexpr size_t kBatch = 16;
    ownerWaitsUntil = std::min(file + kBatch, results.size());
    ownerWaiting = true;
    resultReady.wait(lock, [&] { return doneInOrder >= ownerWaitsUntil; });
    ownerWaiting = false;
  }
  return results[file].digest;
}

namespace {

int WorkerCount(const DigestPlan& plan) {
  if (plan.workers != DigestPlan::kAutomaticWorkers) return std::max(plan.workers, 0);
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
                    DigestPlan::kMostWorkers);
}

}  // namespace

CDigestQueue::CDigestQueue(const platform::Folder& folder, std::vector<QueuedFile> files,
                           const DigestPlan& plan)
    : m_Folder(folder), m_Files(std::move(files)) {
  std::vector<std::string> aheadNames;
  for (const QueuedFile& file : m_Files) {
    if (file.mayReadAhead) aheadNames.push_back(file.name);
  }
  // Workers pay only when a second file is left to them; the owner digests a single one.
  const int workerCount = aheadNames.size() > 1 ? WorkerCount(plan) : 0;
  m_State = std::make_unique<State>(folder, std::move(aheadNames), workerCount, plan.level);
  for (Worker& worker : m_State->workers) {
    try {
      m_State->threads.emplace_back([state = m_State.get(), &worker] { state->RunWorker(worker); });
    } catch (const std::system_error&) {
      // No more threads to be had: the workers that started take every file, since the claims
      // of each look only at those before it.
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
  for (std::thread& thread : m_State->threads) thread.join();
}

FileDigest CDigestQueue::Next() {
  const QueuedFile& file = m_Files[m_NextFile++];
  if (file.mayReadAhead && !m_State->threads.empty()) return m_State->WaitFor(m_NextAhead++);
  FileDigest result;
  result.read = DigestFile(m_Folder, file.name, result.digest) == 1;
  return result;
}
