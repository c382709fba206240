// The digests of files, taken in the order they were asked for and
// computed ahead of that by N jobs: the thread that takes them, while it
// waits, and N - 1 workers. Regular files are read several at a time, and
// a large one in pieces on several threads at once (the digest sums its
// blocks, so pieces digested apart are joined in order and only the
// closing blocks come last). Standard input and anything that is not a
// regular file are read by the taking thread when their turn comes, as a
// serial run reads them. With one job there is no worker: every file is
// read at its turn, and nothing is read ahead.
//
// Whatever the threads, each result, error and progress line appears when
// its file is taken, so the output is the serial run's byte for byte.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "compatcrypt.hpp"
#include "io/input_file.h"

namespace compatcrypt::cli {

// The most jobs -j accepts, and the most threads the default takes.
inline constexpr unsigned kMaxJobs = 1024;

// The CPUs this process may run on.
unsigned DefaultJobs();

// An input opened at an offset, and the bytes from there to its end where
// the size is known (regular files).
struct OpenedInput {
  std::unique_ptr<InputFile> input;
  std::optional<std::uint64_t> remaining;
};
OpenedInput OpenAt(const std::string &name, std::uint64_t offset);

// Bytes [from, end) of a regular file, counted from where reading starts.
struct ByteRange {
  std::uint64_t from;
  std::uint64_t end;
};

// The one reader every digest path uses: digests the input's bytes through
// `buffer`, in order to the end of the data (no range: any input), or the
// bytes of `range` by position (regular files; several threads may read
// one file at once). `onRead` is told each read's byte count and returns
// whether to go on; false if it stopped the reading. Throws Failure if the
// input cannot be read or has changed.
bool DigestRange(InputFile &input, std::optional<ByteRange> range, std::span<std::byte> buffer,
                 Digest &digest, const std::function<bool(std::size_t)> &onRead);

// Streams the file (or standard input) from `offset` through DigestRange,
// with a progress line if asked for; throws Failure if it cannot be read.
DigestValue DigestOf(const std::string &name, std::uint64_t offset, bool showProgress,
                     std::span<std::byte> buffer);

class DigestPipeline {
 public:
  // `chunkSize`: the smallest piece a file is split into, a multiple of
  // 64; 0 for the default.
  DigestPipeline(unsigned jobs, std::uint64_t offset, std::uint64_t chunkSize);
  // Stops the workers (a piece under way is abandoned) and waits for them.
  ~DigestPipeline();
  DigestPipeline(const DigestPipeline &) = delete;
  DigestPipeline &operator=(const DigestPipeline &) = delete;

  // How many submitted files may wait to be taken: once this many wait,
  // the callers take the oldest until half as many wait, so that files
  // are queued (and workers woken) in batches. 0 with one job.
  std::size_t Window() const { return window_; }

  // Queues a file. With `ignoreMissing`, a file that does not exist is
  // not read.
  void Submit(const std::string &name, bool showProgress, bool ignoreMissing);

  // The oldest queued file's digest, once it is known, as DigestOf gives
  // it (errors thrown the same way); nullopt for a missing file that is
  // ignored.
  std::optional<DigestValue> Next();

 private:
  struct Job;
  struct SplitFile;
  struct Task;

  enum class State : int;

  void Flush();
  void StartWorkers(std::size_t wanted);
  void Work();
  void Run(const Task &task, std::span<std::byte> buffer);
  std::optional<DigestValue> RunAtTurn(const Job &job);
  std::span<std::byte> TakerBuffer();
  std::uint64_t PieceSize(std::uint64_t size) const;
  void RunFile(const std::shared_ptr<Job> &job, std::span<std::byte> buffer);
  void RunChunk(const std::shared_ptr<SplitFile> &split, std::size_t index, std::span<std::byte> buffer);
  void Join(SplitFile &split);
  void Publish(Job &job, State state);

  const unsigned jobs_;
  const std::uint64_t offset_;
  const std::uint64_t chunkSize_;
  const std::size_t window_;

  std::mutex mutex_;
  std::condition_variable taskReady_;    // workers wait for tasks
  std::condition_variable resultReady_;  // the taking thread waits for the oldest job
  std::deque<Task> tasks_;
  std::vector<std::thread> threads_;
  unsigned idle_ = 0;
  std::atomic<bool> stop_ = false;
  // The job the taking thread waits for, if it waits: a job's state is
  // changed without the lock, and the lock taken only to wake that thread.
  std::atomic<const Job *> awaited_ = nullptr;

  // The taking thread's only.
  std::deque<std::shared_ptr<Job>> queued_;
  std::vector<Task> unqueued_;  // submitted, queued for the workers in batches
  SecureBytes takerBuffer_;     // for the tasks it runs while it waits
};

}  // namespace compatcrypt::cli
