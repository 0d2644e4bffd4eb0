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
// kLargestRead bytes, which one read fills. (A third more reads cost less than 1 % on large
// files; the memory counts on a run of 2 GiB.)
constexpr size_t kBufferBudget = 6u << 20;
constexpr size_t kLargestRead = 256u << 10;
constexpr size_t kSmallestRead = 16u << 10;

// The files the queue holds open at once, in the lanes and opened ahead of them, whose sizes at
// open decide the order in which the lanes take them: all of a release folder's, where the
// system lets the process hold them.
constexpr size_t kMostOpen = 4096;
// Opened at a time, outside the lock.
constexpr size_t kOpenBatch = 16;

// A file alone in a worker goes through the one-message code, about twice as fast as one lane
// of a vector kernel (0.9 against 0.5 GB/s with AVX-512, 0.35 GB/s with AVX2).
constexpr std::uint64_t kAloneSpeedup = 2;

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
  bool alone = false;           // it runs one file alone and takes no other until that ends
  std::vector<int> serving;     // the lanes, its own or another's, whose reads it serves
};

// A read of the next piece of a lane's file into the lane's pieces[1].
struct ReadJob {
  Worker* worker;
  int lane;
};

// A file opened ahead of the lanes.
struct OpenedFile {
  size_t index;
  std::uint64_t size;
  platform::InputFile file;
};

// The order in which the lanes take the files opened ahead, as a heap: the largest on top, so
// that no large file is left to run alone at the end; of equal sizes the first listed. (Taking
// the small files in listing order, which is the order on disk of most folders, made a release
// folder read from disk 15 % slower, not faster.)
bool TakenAfter(const OpenedFile& a, const OpenedFile& b) {
  return a.size != b.size ? a.size < b.size : a.index > b.index;
}

// Reads the next piece of `file` into `piece`, up to `capacity` bytes; closes the file at its end.
void ReadPiece(platform::InputFile& file, Piece& piece, size_t capacity) {
  piece.size = 0;
  piece.endsFile = false;
  piece.failed = false;
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

// How many files the queue may hold open at once: at most half of what the process may hold, so
// that no open of the run fails for want of a descriptor.
size_t OpenFilesLimit() {
  return std::clamp<size_t>(platform::ReserveOpenFiles(2 * kMostOpen) / 2, 1, kMostOpen);
}

}  // namespace

struct CDigestQueue::State {
  State(const platform::Folder& folder, std::vector<std::string> aheadNames, int workerCount,
        Md5Level level);

  void RunWorker(Worker& worker);
  size_t FilesLeft() const { return opened.size() + opening + (names.size() - nextOpen); }
  size_t FilesOpen() const;
  size_t ClaimableBy(const Worker& worker) const;
  bool RunsAlone(const Worker& worker) const;
  void Claim(Worker& worker);
  void Advance(Worker& worker);
  void FeedPiece(Worker& worker, int lane);
  bool ServeOneJob(Worker& worker, std::unique_lock<std::mutex>& lock);
  void OpenAhead(std::unique_lock<std::mutex>& lock);
  void Publish(size_t file, const Md5Digest* digest);
  FileDigest WaitFor(size_t file);

  const platform::Folder& folder;
  const std::vector<std::string> names;  // of the files the workers digest, in listing order
  const Md5Kernel kernel;
  const size_t readSize;
  const size_t mostOpen;
  // Made before the threads start, freed after they all ended: a read still under way when the
  // queue is given up fills live buffers.
  std::vector<Worker> workers;
  std::vector<std::thread> threads;

  // Order and progress, under `mutex`:
  // - Each file is opened once (nextOpen only grows), then published as unreadable at once or
  //   put among `opened`, from which one worker takes it into a lane. Each file is published
  //   once, into its own place of `results`; Next() waits for its place, so results leave in
  //   listing order whatever order the lanes take the files in.
  // - A lane that waits for bytes has its next piece queued in `reads`, under way, or read
  //   (nextRead): it never waits on nothing. A file's first piece is queued when it is taken.
  // - A job (a queued read, or files to open while fewer than mostOpen are) needs nothing of the
  //   worker that serves it, and every worker whose lanes cannot step serves one: a worker
  //   sleeps only when no job is left for it. The reads of a worker running one file alone are
  //   its own, and it serves no others: its file ends the run, and no other's turn may delay it.
  // - Once the first files are open (`openedOnce`; before, only files of one piece), the first
  //   worker takes files whenever it has free lanes and no file alone; and when it has one
  //   alone, another worker takes the others (RunsAlone). So every file is taken, every taken
  //   file is read and stepped to its end and published, and Next() returns.
  // - Leaving early: once `stopping`, a worker leaves after its step or job, and touches no
  //   other worker's reads; the lanes stay until every thread has ended.
  // A worker's lanes are its own, but their occupancy changes only under the lock, where the
  // claims of the others read it, and a lane's file and pieces[1] belong to the thread reading
  // them from the moment their read is queued until it sets nextRead.
  std::mutex mutex;
  std::condition_variable changed;      // for the workers: a job queued or done, files to
                                        // take, the last file published, stopping
  std::condition_variable resultReady;  // for the owner
  size_t nextOpen = 0;                  // the first file no worker has opened
  size_t opening = 0;                   // files being opened outside the lock
  bool openedOnce = false;              // as many files were open as may be, or all: sizes known
  std::vector<OpenedFile> opened;       // a heap in the order of TakenAfter
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
      mostOpen(workerCount == 0 ? 0 : OpenFilesLimit()),
      results(names.size()) {
  opened.reserve(std::min(names.size(), mostOpen));
  workers.reserve(static_cast<size_t>(workerCount));
  for (int i = 0; i < workerCount; ++i) {
    workers.emplace_back(static_cast<size_t>(i), kernel, kernel.laneCount);
  }
}

// Those opened ahead and being opened, and, at most, one in each lane that holds a file.
size_t CDigestQueue::State::FilesOpen() const {
  size_t inLanes = 0;
  for (const Worker& worker : workers) inLanes += static_cast<size_t>(worker.lanes.Occupied());
  return opened.size() + opening + inLanes;
}

void CDigestQueue::State::RunWorker(Worker& worker) {
  std::unique_lock lock(mutex);
  while (!stopping && doneInOrder < names.size()) {
    Claim(worker);
    Advance(worker);
    // Lanes that came free since the claim are filled first.
    if (ClaimableBy(worker) > 0) continue;
    if (worker.lanes.CanStep()) {
      lock.unlock();
      worker.lanes.Step();
      lock.lock();
    } else if (!ServeOneJob(worker, lock)) {
      changed.wait(lock);
    }
  }
}

// The files `worker` may take now. They go to the free lanes of the first workers first: a
// worker with every lane full runs the kernel at its best while the workers with nothing to
// step read for it, so a few large files fill one worker and the other cores read (split among
// half-full workers, each running its kernel half idle and reading for itself, eight files of
// 256 MiB took 1.4 times as long). So a worker takes only what the free lanes of those before
// it leave, and nothing before each of them has taken its first files; a worker that runs a
// file alone leaves its lanes to the others.
size_t CDigestQueue::State::ClaimableBy(const Worker& worker) const {
  if (opened.empty() || worker.alone) return 0;
  // Until the sizes are known, only files of one piece are taken: they end at once, and leave the
  // lanes free for a large file found later.
  if (!openedOnce && opened.front().size > readSize) return 0;
  size_t left = FilesLeft();
  for (size_t place = 0; place < worker.place; ++place) {
    const Worker& before = workers[place];
    const size_t free = static_cast<size_t>(before.lanes.LaneCount() - before.lanes.Occupied());
    if (!before.hasClaimed) return 0;
    if (before.alone) continue;
    if (left <= free) return 0;
    left -= free;
  }
  const size_t free = static_cast<size_t>(worker.lanes.LaneCount() - worker.lanes.Occupied());
  return std::min({left, free, opened.size()});
}

// Whether `worker`, which holds no file, takes the largest file left alone: in a lane beside
// others it would end last, alone it runs kAloneSpeedup times as fast. So it does when no more
// files are left than workers without files, or when the file is that much larger than the next
// largest and another worker is there to take the others; not for a file of one piece.
bool CDigestQueue::State::RunsAlone(const Worker& worker) const {
  // A file of one piece ends at once wherever it runs.
  if (worker.lanes.Occupied() > 0 || workers.size() < 2 || opened.front().size <= readSize) {
    return false;
  }
  size_t idle = 0;
  bool anotherTakesFiles = false;
  for (const Worker& other : workers) {
    if (other.lanes.Occupied() == 0) ++idle;
    if (&other != &worker && !other.alone) anotherTakesFiles = true;
  }
  if (FilesLeft() <= idle) return true;
  // The next largest is a child of the heap's top.
  std::uint64_t next = 0;
  for (size_t child = 1; child < std::min<size_t>(opened.size(), 3); ++child) {
    next = std::max(next, opened[child].size);
  }
  return anotherTakesFiles && opened.front().size / kAloneSpeedup > next;
}

// Takes the files the worker may have into its lanes, the largest first, and queues the reads
// of their first pieces; all under the lock, so that no other worker takes files between them.
void CDigestQueue::State::Claim(Worker& worker) {
  size_t count = ClaimableBy(worker);
  if (count == 0) return;
  worker.alone = RunsAlone(worker);
  if (worker.alone) count = 1;
  for (size_t i = 0; i < count; ++i) {
    std::pop_heap(opened.begin(), opened.end(), TakenAfter);
    const int lane = worker.lanes.Submit(opened.back().index);
    LaneFile& file = worker.files[static_cast<size_t>(lane)];
    file.file = std::move(opened.back().file);
    opened.pop_back();
    for (Piece& piece : file.pieces) {
      if (!piece.bytes) piece.bytes.reset(new unsigned char[readSize]);
    }
    reads.push_back({&worker, lane});
  }
  worker.hasClaimed = true;
  changed.notify_all();  // reads to serve, and the next worker may take what this one left
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
  if (worker.lanes.Occupied() == 0) worker.alone = false;
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

// Serves the queued reads of one worker's lanes, or opens the next files while fewer than
// mostOpen are. The reads of a file running alone come first, as it ends the run; the worker
// running it serves no others, so that no other's turn delays it. Then a worker serves its own
// reads, then any. The reads of one worker go together: it needs them all before it can step,
// and a small file costs less to read than a turn of the lock.
bool CDigestQueue::State::ServeOneJob(Worker& worker, std::unique_lock<std::mutex>& lock) {
  const auto firstWhere = [&](auto wanted) {
    return std::find_if(reads.begin(), reads.end(), wanted);
  };
  auto first = firstWhere([&](const ReadJob& read) {
    return read.worker->alone && (read.worker == &worker || !worker.alone);
  });
  if (first == reads.end() && !worker.alone) {
    first = firstWhere([&](const ReadJob& read) { return read.worker == &worker; });
    if (first == reads.end()) first = reads.begin();
  }
  if (first == reads.end()) {
    if (worker.alone || nextOpen == names.size() || FilesOpen() >= mostOpen) {
      return false;
    }
    OpenAhead(lock);
    return true;
  }
  Worker& owner = *first->worker;
  std::vector<int>& lanes = worker.serving;
  lanes.clear();
  std::erase_if(reads, [&](const ReadJob& read) {
    if (read.worker == &owner) lanes.push_back(read.lane);
    return read.worker == &owner;
  });
  lock.unlock();
  for (int lane : lanes) {
    LaneFile& file = owner.files[static_cast<size_t>(lane)];
    ReadPiece(file.file, file.pieces[1], readSize);
  }
  lock.lock();
  for (int lane : lanes) owner.files[static_cast<size_t>(lane)].nextRead = true;
  changed.notify_all();
  return true;
}

// Opens the next files of the list; one that cannot be opened is published unread at once.
void CDigestQueue::State::OpenAhead(std::unique_lock<std::mutex>& lock) {
  const size_t first = nextOpen;
  const size_t count = std::min({kOpenBatch, names.size() - nextOpen, mostOpen - FilesOpen()});
  nextOpen += count;
  opening += count;
  lock.unlock();
  std::vector<OpenedFile> batch;
  batch.reserve(count);
  for (size_t index = first; index < first + count; ++index) {
    platform::InputFile file = platform::InputFile::Open(folder, names[index]);
    batch.push_back({index, file.SizeAtOpen(), std::move(file)});
  }
  lock.lock();
  opening -= count;
  for (OpenedFile& file : batch) {
    if (!file.file.IsOpen()) {
      Publish(file.index, nullptr);
      continue;
    }
    opened.push_back(std::move(file));
    std::push_heap(opened.begin(), opened.end(), TakenAfter);
  }
  if (opening == 0 && (nextOpen == names.size() || FilesOpen() >= mostOpen)) {
    openedOnce = true;
  }
  changed.notify_all();
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
  std::vector<Worker>& workers = m_State->workers;
  size_t started = 0;
  try {
    for (; started < workers.size(); ++started) {
      m_State->threads.emplace_back(
          [state = m_State.get(), &worker = workers[started]] { state->RunWorker(worker); });
    }
  } catch (const std::system_error&) {
    // No more threads to be had: the workers that started take every file, since the claims
    // of each look only at those before it and at those running a file alone.
    std::lock_guard lock(m_State->mutex);
    workers.erase(workers.begin() + static_cast<long>(started), workers.end());
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
