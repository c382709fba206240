#include "digest/digest_pipeline.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <functional>
#include <limits>

#include "compatcrypt_bind.h"
#include "io/input_file.h"
#include "support/failure.h"
#include "support/progress.h"

namespace compatcrypt::cli {

namespace {

// Each thread reads through one buffer of this size (a serial run too):
// large enough that a read costs little beside digesting it, small enough
// to stay in the core's own cache while it is digested. 64 KiB to 1 MiB
// cost the same CPU time on a cached 1 GiB file (perf stat -e task-clock
// on `digest -j2`).
constexpr std::size_t kReadSize = 256 * 1024;
// Pieces join only at whole blocks of the digest.
constexpr std::uint64_t kBlock = COMPATCRYPT_BIND_DIGEST_BLOCK_BYTES;
// Files of more than one piece are split. A piece of 1 MiB takes well
// under a millisecond, so the threads share out even a few MiB evenly;
// the pieces of a file never number more than kMaxPieces, so that their
// digests, held until all are joined, stay few.
constexpr std::uint64_t kDefaultPiece = 1u << 20;
constexpr std::uint64_t kMaxPieces = 1024;
// Files queued per job ahead of the one taken: enough that the workers
// never run dry while the taking thread prints.
constexpr std::size_t kQueuedPerJob = 16;
// How often the taking thread looks at the bytes done while it waits,
// for the progress line (which redraws itself at its own pace).
constexpr auto kProgressPoll = std::chrono::milliseconds(100);

bool IsMissing(const std::string &name) {
  struct stat status;
  return name != "-" && stat(name.c_str(), &status) != 0 && errno == ENOENT;
}

}  // namespace

unsigned DefaultJobs() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return std::min(static_cast<unsigned>(count), kMaxJobs);
  }
  // More CPUs than cpu_set_t holds, or no affinity to ask for.
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware == 0 ? 1 : std::min(hardware, kMaxJobs);
}

// Opens `name` at `offset`. An offset at or past the end of a regular file
// digests no bytes; the skip stops at the end, so no seek ever goes
// beyond it.
OpenedInput OpenAt(const std::string &name, std::uint64_t offset) {
  OpenedInput opened{.input = std::make_unique<InputFile>(name), .remaining = std::nullopt};
  InputFile &input = *opened.input;
  const std::uint64_t skip = input.Size() ? std::min(offset, *input.Size()) : offset;
  input.Skip(skip);
  if (input.Size()) opened.remaining = *input.Size() - skip;
  return opened;
}

bool DigestRange(InputFile &input, std::optional<ByteRange> range, std::span<std::byte> buffer,
                 Digest &digest, const std::function<bool(std::size_t)> &onRead) {
  if (!range) {
    for (;;) {
      const std::size_t got = input.Read(buffer);
      digest.update(buffer.first(got));
      if (!onRead(got)) return false;
      if (got < buffer.size()) return true;
    }
  }
  for (std::uint64_t from = range->from; from < range->end;) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(range->end - from, buffer.size()));
    input.ReadAt(from, buffer.first(want));
    digest.update(buffer.first(want));
    from += want;
    if (!onRead(want)) return false;
  }
  return true;
}

DigestValue DigestOf(const std::string &name, std::uint64_t offset, bool showProgress,
                     std::span<std::byte> buffer) {
  const OpenedInput opened = OpenAt(name, offset);
  Progress progress(opened.input->Name(), showProgress ? opened.remaining : std::nullopt);
  Digest digest;
  DigestRange(*opened.input, std::nullopt, buffer, digest, [&](std::size_t got) {
    progress.Advance(got);
    return true;
  });
  return digest.finish();
}

// ---------------------------------------------------------------------------

// What the taking thread may learn of a job. Everything a worker writes
// into the job comes before the state that announces it (the stores and
// loads of the state are sequentially consistent).
enum class DigestPipeline::State : int {
  kQueued,
  kOpened,    // being read in pieces; `remaining` is known
  kAtTurn,    // to be read by the taking thread when its turn comes
  kFinished,  // `value`, `error` or `missing` is set
};

struct DigestPipeline::Job {
  std::string name;
  bool showProgress = false;
  bool ignoreMissing = false;
  std::atomic<State> state = State::kQueued;
  bool opened = false;  // opened, with `remaining` bytes to read (if known)
  std::optional<std::uint64_t> remaining;
  bool missing = false;
  DigestValue value{};
  std::exception_ptr error;
  // Bytes digested so far, for the progress line.
  std::atomic<std::uint64_t> done = 0;
};

// A file read in pieces by several threads: the piece at `index` is bytes
// [index * piece, (index + 1) * piece) from the offset. Every piece but the
// last is a whole number of blocks, so the pieces' digests join in order.
struct DigestPipeline::SplitFile {
  std::shared_ptr<Job> job;
  std::unique_ptr<InputFile> input;
  std::uint64_t size = 0;
  std::uint64_t piece = 0;
  std::size_t count = 0;
  std::vector<Digest> parts;
  std::vector<std::exception_ptr> errors;
  // The first piece that failed: pieces after it are not read, since a
  // serial read would have stopped there.
  std::atomic<std::size_t> firstFailed = std::numeric_limits<std::size_t>::max();
  std::atomic<std::size_t> left = 0;
  // The pieces read so far, and how many of them are read in order from
  // the first: the descriptor's position shows the bytes up to there.
  std::mutex order;
  std::vector<bool> read;
  std::size_t readInOrder = 0;
};

// A whole file to open (split is null), or a piece of a split one.
struct DigestPipeline::Task {
  std::shared_ptr<Job> job;
  std::shared_ptr<SplitFile> split = nullptr;
  std::size_t index = 0;
};

// The most jobs the open-file limit allows. A job has one file open while it
// reads, and may open the next while the pieces of a split file it opened
// are still read by others: two each, beside the tool's own descriptors
// (standard streams, a check list, the terminal). So `ulimit -n 16` and
// -j1024 run three jobs, rather than failing files with "Too many open files".
static unsigned JobsWithinOpenFileLimit(unsigned jobs) {
  constexpr rlim_t kOwnDescriptors = 10;
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return jobs;
  const rlim_t room = limit.rlim_cur > kOwnDescriptors ? (limit.rlim_cur - kOwnDescriptors) / 2 : 1;
  return static_cast<unsigned>(std::clamp<rlim_t>(room, 1, jobs));
}

DigestPipeline::DigestPipeline(unsigned jobs, std::uint64_t offset, std::uint64_t chunkSize)
    : jobs_(JobsWithinOpenFileLimit(std::max(jobs, 1u))),
      offset_(offset),
      chunkSize_(chunkSize != 0 ? chunkSize : kDefaultPiece),
      window_(jobs_ > 1 ? kQueuedPerJob * jobs_ : 0) {}

DigestPipeline::~DigestPipeline() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  taskReady_.notify_all();
  for (std::thread &thread : threads_) thread.join();
}

void DigestPipeline::Submit(const std::string &name, bool showProgress, bool ignoreMissing) {
  auto job = std::make_shared<Job>();
  job->name = name;
  job->showProgress = showProgress;
  job->ignoreMissing = ignoreMissing;
  queued_.push_back(job);
  // Standard input is read in its turn, from where it stands then.
  if (jobs_ == 1 || name == "-") {
    job->state = State::kAtTurn;
    return;
  }
  unqueued_.push_back(Task{.job = std::move(job)});
  if (unqueued_.size() >= kQueuedPerJob) Flush();
}

// Hands the submitted files to the workers, under one lock.
void DigestPipeline::Flush() {
  if (unqueued_.empty()) return;
  std::lock_guard lock(mutex_);
  for (Task &task : unqueued_) tasks_.push_back(std::move(task));
  StartWorkers(unqueued_.size());
  unqueued_.clear();
}

// Under mutex_, after tasks were queued: wakes idle workers, and starts
// new ones for the tasks that no idle worker takes, up to jobs_ - 1 (the
// taking thread works too while it waits). Workers block every signal, so
// that handlers run on the main thread.
void DigestPipeline::StartWorkers(std::size_t wanted) {
  if (idle_ != 0) {
    if (wanted == 1)
      taskReady_.notify_one();
    else
      taskReady_.notify_all();
  }
  for (std::size_t spare = idle_; spare < wanted && threads_.size() + 1 < jobs_; ++spare) {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    threads_.emplace_back([this] { Work(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
}

void DigestPipeline::Work() {
  SecureBytes buffer(kReadSize);
  std::unique_lock lock(mutex_);
  for (;;) {
    while (tasks_.empty() && !stop_) {
      ++idle_;
      taskReady_.wait(lock);
      --idle_;
    }
    if (stop_) return;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    Run(task, buffer);
    lock.lock();
  }
}

void DigestPipeline::Run(const Task &task, std::span<std::byte> buffer) {
  if (task.split)
    RunChunk(task.split, task.index, buffer);
  else
    RunFile(task.job, buffer);
}

// Announces a job's new state; wakes the taking thread if it waits for the
// job. That thread sets awaited_ and checks the state under the lock, and
// waits holding it, so the notification cannot come between the two.
void DigestPipeline::Publish(Job &job, State state) {
  job.state = state;
  if (awaited_ == &job) {
    std::lock_guard lock(mutex_);
    resultReady_.notify_one();
  }
}

std::uint64_t DigestPipeline::PieceSize(std::uint64_t size) const {
  std::uint64_t piece = (size + kMaxPieces - 1) / kMaxPieces;
  piece = (piece + kBlock - 1) / kBlock * kBlock;
  return std::max(piece, chunkSize_);
}

void DigestPipeline::RunFile(const std::shared_ptr<Job> &job, std::span<std::byte> buffer) {
  // Only regular files are read ahead: opening anything else may block
  // (a pipe without a writer) or have effects, which a serial run has in
  // its order. A name that cannot be looked up is left to its turn too,
  // where opening it fails as it would in a serial run.
  struct stat status;
  if (stat(job->name.c_str(), &status) != 0) {
    if (errno == ENOENT && job->ignoreMissing) {
      job->missing = true;
      Publish(*job, State::kFinished);
    } else {
      Publish(*job, State::kAtTurn);
    }
    return;
  }
  if (!S_ISREG(status.st_mode)) {
    Publish(*job, State::kAtTurn);
    return;
  }
  try {
    OpenedInput opened = OpenAt(job->name, offset_);
    std::unique_ptr<InputFile> input = std::move(opened.input);
    job->opened = true;
    job->remaining = opened.remaining;
    if (job->remaining && *job->remaining > PieceSize(*job->remaining)) {
      auto split = std::make_shared<SplitFile>();
      split->job = job;
      split->input = std::move(input);
      split->size = *job->remaining;
      split->piece = PieceSize(split->size);
      split->count = static_cast<std::size_t>((split->size + split->piece - 1) / split->piece);
      split->parts.resize(split->count);
      split->errors.resize(split->count);
      split->read.resize(split->count);
      split->left = split->count;
      {
        // The pieces go ahead of the files queued behind: the file is
        // done soonest, and the taking thread waits for files in order.
        std::lock_guard lock(mutex_);
        for (std::size_t index = split->count - 1; index >= 1; --index)
          tasks_.push_front(Task{.job = job, .split = split, .index = index});
        StartWorkers(split->count - 1);
      }
      // The taking thread learns the size now, for the progress line.
      Publish(*job, State::kOpened);
      RunChunk(split, 0, buffer);
      return;
    }
    // A file of one piece, read as a serial run reads it.
    Digest digest;
    DigestRange(*input, std::nullopt, buffer, digest, [&](std::size_t got) {
      job->done.fetch_add(got, std::memory_order_relaxed);
      return true;
    });
    job->value = digest.finish();
  } catch (...) {
    job->error = std::current_exception();
  }
  Publish(*job, State::kFinished);
}

void DigestPipeline::RunChunk(const std::shared_ptr<SplitFile> &split, std::size_t index,
                              std::span<std::byte> buffer) {
  SplitFile &file = *split;
  if (index <= file.firstFailed.load()) {
    try {
      const std::uint64_t from = index * file.piece;
      const ByteRange range{.from = from, .end = std::min(from + file.piece, file.size)};
      Digest digest;
      // Stopping: nobody waits for this file any more.
      if (stop_.load(std::memory_order_relaxed)) return;
      const bool whole = DigestRange(*file.input, range, buffer, digest, [&](std::size_t got) {
        file.job->done.fetch_add(got, std::memory_order_relaxed);
        return !stop_.load(std::memory_order_relaxed);
      });
      if (!whole) return;
      file.parts[index] = digest;
      std::lock_guard lock(file.order);
      file.read[index] = true;
      std::size_t inOrder = file.readInOrder;
      while (inOrder < file.count && file.read[inOrder]) ++inOrder;
      if (inOrder != file.readInOrder) {
        file.readInOrder = inOrder;
        file.input->ShowReadUpTo(std::min(inOrder * file.piece, file.size));
      }
    } catch (...) {
      file.errors[index] = std::current_exception();
      std::size_t first = file.firstFailed.load();
      while (index < first && !file.firstFailed.compare_exchange_weak(first, index)) {
      }
    }
  }
  if (file.left.fetch_sub(1, std::memory_order_acq_rel) == 1) Join(file);
}

// The last piece is done: the first error in file order is the file's,
// as in a serial read; otherwise the file must be as it was when opened,
// and the pieces' digests join in order.
void DigestPipeline::Join(SplitFile &file) {
  Job &job = *file.job;
  const auto failed = std::find_if(file.errors.begin(), file.errors.end(),
                                   [](const std::exception_ptr &error) { return error != nullptr; });
  if (failed != file.errors.end()) {
    job.error = *failed;
  } else {
    try {
      file.input->CheckUnchanged();
      Digest whole = file.parts[0];
      for (std::size_t index = 1; index < file.count; ++index) whole.append(file.parts[index]);
      job.value = whole.finish();
    } catch (...) {
      job.error = std::current_exception();
    }
  }
  file.parts.clear();
  file.input.reset();
  Publish(job, State::kFinished);
}

std::optional<DigestValue> DigestPipeline::RunAtTurn(const Job &job) {
  if (job.ignoreMissing && IsMissing(job.name)) return std::nullopt;
  return DigestOf(job.name, offset_, job.showProgress, TakerBuffer());
}

std::span<std::byte> DigestPipeline::TakerBuffer() {
  if (takerBuffer_.empty()) takerBuffer_.resize(kReadSize);
  return takerBuffer_;
}

std::optional<DigestValue> DigestPipeline::Next() {
  const std::shared_ptr<Job> job = std::move(queued_.front());
  queued_.pop_front();
  if (job->state == State::kAtTurn && jobs_ == 1) return RunAtTurn(*job);
  Flush();
  // The progress line appears as a serial read would show it: from the
  // file's opening to its end.
  std::optional<Progress> progress;
  std::uint64_t shown = 0;
  const auto advance = [&] {
    const std::uint64_t done = job->done.load(std::memory_order_relaxed);
    progress->Advance(done - shown);
    shown = done;
  };
  for (;;) {
    const State state = job->state;
    if (state == State::kAtTurn) return RunAtTurn(*job);
    if (!progress && (state == State::kOpened || state == State::kFinished) && job->opened)
      progress.emplace(job->name, job->showProgress ? job->remaining : std::nullopt);
    if (state == State::kFinished) break;
    if (progress) advance();
    // While the file is not done, this thread is one of the jobs: it
    // takes the next task (a file of one piece, or a piece).
    std::unique_lock lock(mutex_);
    if (!tasks_.empty()) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      Run(task, TakerBuffer());
      continue;
    }
    awaited_ = job.get();
    if (job->state == state) resultReady_.wait_for(lock, kProgressPoll);
    awaited_ = nullptr;
  }
  if (progress) advance();
  if (job->error) std::rethrow_exception(job->error);
  if (job->missing) return std::nullopt;
  return job->value;
}

}  // namespace compatcrypt::cli
