// Processes for the tool's tests: starting a program with its standard
// streams where a test wants them, watching it through /proc, tracing it to
// its exit, and running it as the foreground job of a terminal of its own.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace compatcrypt::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The signals whose default effect ends the tool.
inline constexpr int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,
                                         SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2};

std::string SignalName(int signal);

// The whole content of a file; "" if it cannot be read.
std::string ReadText(const fs::path &path);

// A program's argument and environment vectors (this process's environment
// and `env`), built before a fork so that the child only has to call
// execve. A program name without a slash is looked up on PATH.
class Command {
 public:
  Command(const std::string &program, std::vector<std::string> args,
          const std::map<std::string, std::string> &env = {});
  Command(const Command &) = delete;
  Command &operator=(const Command &) = delete;

  [[noreturn]] void Exec() const;

 private:
  std::string path_;
  std::vector<std::string> args_;
  std::vector<char *> argv_;
  std::vector<std::string> env_;
  std::vector<char *> envp_;
};

// In a child before exec: the signals the tool handles start with their
// default effect, except those given as ignored; no core files.
void PrepareChild(const std::vector<int> &ignored = {});

// In a child: `path` opened with `flags` becomes descriptor `fd`.
void Redirect(int fd, const std::string &path, int flags);

// waitpid for `pid` through interruptions; the wait status.
int Reap(pid_t pid);

// A child process, killed and reaped if a test ends before it does.
class Child {
 public:
  explicit Child(pid_t pid = -1) : pid_(pid) {}
  ~Child();
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;
  pid_t pid() const { return pid_; }
  int Wait();
  // For a child reaped already, or handed on.
  pid_t Release() { return std::exchange(pid_, -1); }

 private:
  pid_t pid_;
};

// Where a started program's standard streams come from and go to: a file
// by name, or a descriptor of this process (>= 0), which takes precedence.
struct Streams {
  std::string in = "/dev/null";
  int inFd = -1;
  std::string out;  // opened for writing, created and truncated
  int outFd = -1;
  std::string err;
  std::string cwd = "";           // empty: this process's
  std::vector<int> ignored = {};  // signals ignored from the start
};

// Starts `command` without waiting for it; -1 if it cannot fork. A FIFO as
// `in` is opened by the child, so this does not wait for its writer.
pid_t StartProcess(const Command &command, const Streams &streams);

// Polls `condition` every `interval` until it holds or `timeout` has passed.
bool WaitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout = 10s,
               std::chrono::microseconds interval = 5ms);

// /proc/PID/ENTRY.
std::string Proc(pid_t pid, const std::string &entry);

// The state letter of /proc/PID/stat: 'T' for a stopped process.
char StateOf(pid_t pid);

// The descriptors above 2 of process `pid` open on files in `dir` (a
// temporary name or an unnamed file there both count), with the files'
// names.
std::vector<std::pair<int, std::string>> OpenFilesIn(pid_t pid, const fs::path &dir);
inline bool HasFileOpenIn(pid_t pid, const fs::path &dir) { return !OpenFilesIn(pid, dir).empty(); }

// The descriptor of process `pid` open on `path`, or -1.
int DescriptorOn(pid_t pid, const std::string &path);

// The file offset of descriptor `fd` of process `pid`; -1 if unknown.
long long OffsetOf(pid_t pid, int fd);

// The writable memory of a (stopped) process, mapping after mapping, each
// followed by a NUL.
std::string WritableMemoryOf(pid_t pid);

// The first piece of 16 characters of `secret` found in `memory`, or "".
// Pieces rather than the whole: freeing a block overwrites its first bytes,
// and a copy through registers may hold any part of it.
std::string PieceFound(const std::string &memory, const std::string &secret);

// Runs `command` to its end under ptrace and calls `atExit` while the
// process is stopped on its way out: its exit handlers and destructors
// have run, and its memory is still there to be read. Returns the wait
// status; an exit status of 126 when tracing is not permitted.
int RunTracedToExit(const Command &command, const std::string &stdinPath, const std::string &outPath,
                    const std::string &errPath, const std::function<void(pid_t)> &atExit);

// Reads a descriptor (a pipe) to its end.
std::string ReadToEnd(int fd);

// Reads what the tool writes to its terminal until `until` appears (with
// an empty `until`: until the terminal is closed); gives up when nothing
// comes for `timeout`.
std::string ReadTerminal(int master, const std::string &until, std::chrono::milliseconds timeout = 10s);

// Writes `text` to the terminal, as if typed.
void Type(int master, const std::string &text);

// The terminal's echo flag, read through the master side.
bool EchoOn(int master);

struct TerminalOptions {
  std::string stdinPath = "";   // empty: the terminal
  std::string stdoutPath = "";  // empty: the terminal
  unsigned short columns = 0;   // 0: the terminal's default size; else 24 rows of this width
  bool held = false;            // the tool starts only at Start()
};

// The tool as the foreground job of a terminal of its own, started the way
// a shell with job control starts it: in a process group of its own, whose
// parent (the "shell") stays in the session, so that it can be stopped
// and continued. The shell exits with the tool's exit status, or 128 plus
// the number of the signal that ended it.
class TerminalJob {
 public:
  explicit TerminalJob(const Command &command, const TerminalOptions &options = {});
  ~TerminalJob();
  TerminalJob(const TerminalJob &) = delete;
  TerminalJob &operator=(const TerminalJob &) = delete;

  bool Started() const { return master_ >= 0 && tool_ > 0; }
  int master() const { return master_; }
  pid_t tool() const { return tool_; }

  // Lets a held tool go on to run its program.
  void Start();

  // Reads the terminal until the tool's side is closed (waiting up to
  // `timeout` for each piece) and returns the shell's exit status; the
  // terminal's output goes to `seen`.
  int Finish(std::string *seen = nullptr, std::chrono::milliseconds timeout = 10s);

 private:
  int master_ = -1;
  int gate_ = -1;  // held: the write end the tool waits on
  pid_t tool_ = -1;
  std::unique_ptr<Child> shell_;
};

// Writes all of `bytes` to a FIFO or pipe (the reader may be gone).
void Feed(int fd, const ByteVector &bytes);

// A FIFO writer that survives the reader's death: SIGPIPE is ignored
// while it exists.
class FifoFeed {
 public:
  explicit FifoFeed(const std::string &path);
  ~FifoFeed();
  FifoFeed(const FifoFeed &) = delete;
  FifoFeed &operator=(const FifoFeed &) = delete;
  void Write(const ByteVector &bytes) { Feed(fd_, bytes); }
  void Close();
  bool Open() const { return fd_ >= 0; }

 private:
  sighandler_t previous_;
  int fd_ = -1;
};

}  // namespace compatcrypt::test
