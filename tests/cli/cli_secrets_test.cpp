// The tool's keys and passwords, run as a process: where they come from,
// what is refused or warned about, that no copy of their text is left in
// the process's memory, and what the terminal and the output directory look
// like after a signal, with real signals sent to a real process.
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <thread>

#include "cli_fixture.h"

namespace compatcrypt::test {
namespace {

using namespace std::chrono_literals;

// A key without zero bytes: no warning is expected with it.
constexpr const char *kWholeKeyHex = "0123456789abcdeffedcba9876543210";

// The signals whose default effect ends the tool.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2};

std::string SignalName(int signal) { return std::string(sigabbrev_np(signal)); }

// A program's argument and environment vectors, built before a fork so
// that the child only has to call execve.
class Command {
 public:
  Command(const std::string &program, std::vector<std::string> args,
          const std::map<std::string, std::string> &env = {})
      : args_(std::move(args)) {
    args_.insert(args_.begin(), program);
    for (std::string &arg : args_) argv_.push_back(arg.data());
    argv_.push_back(nullptr);
    for (char **e = environ; *e != nullptr; ++e) env_.emplace_back(*e);
    for (const auto &[name, value] : env) env_.push_back(name + "=" + value);
    for (std::string &entry : env_) envp_.push_back(entry.data());
    envp_.push_back(nullptr);
  }
  Command(const Command &) = delete;
  Command &operator=(const Command &) = delete;

  [[noreturn]] void Exec() const {
    execve(argv_[0], argv_.data(), envp_.data());
    _exit(127);
  }

 private:
  std::vector<std::string> args_;
  std::vector<char *> argv_;
  std::vector<std::string> env_;
  std::vector<char *> envp_;
};

// In a child before exec: the signals the tool handles start with their
// default effect, except those given as ignored; no core files.
void PrepareChild(const std::vector<int> &ignored = {}) {
  for (const int signal : kEndingSignals) std::signal(signal, SIG_DFL);
  std::signal(SIGTSTP, SIG_DFL);
  for (const int signal : ignored) std::signal(signal, SIG_IGN);
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
}

void Redirect(int fd, const std::string &path, int flags) {
  const int opened = open(path.c_str(), flags, 0600);
  if (opened < 0) _exit(126);
  dup2(opened, fd);
  close(opened);
}

int Reap(pid_t pid) {
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  return wstatus;
}

// A child process, killed and reaped if a test ends before it does.
class Child {
 public:
  explicit Child(pid_t pid = -1) : pid_(pid) {}
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Reap(pid_);
    }
  }
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;
  pid_t pid() const { return pid_; }
  int Wait() {
    const int wstatus = Reap(pid_);
    pid_ = -1;
    return wstatus;
  }
  // For a child reaped already.
  void Release() { pid_ = -1; }

 private:
  pid_t pid_;
};

bool WaitUntil(const std::function<bool()> &condition) {
  for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
    if (condition()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return condition();
}

std::string Proc(pid_t pid, const std::string &entry) { return "/proc/" + std::to_string(pid) + "/" + entry; }

// The state letter of /proc/PID/stat: 'T' for a stopped process.
char StateOf(pid_t pid) {
  const std::string stat = ReadText(Proc(pid, "stat"));
  const std::size_t end = stat.rfind(") ");
  return end == std::string::npos ? '?' : stat[end + 2];
}

// Whether the process has a file in `dir` open (its output file: a
// temporary name or an unnamed file there both show up as such).
bool HasFileOpenIn(pid_t pid, const fs::path &dir) {
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(Proc(pid, "fd"), error)) {
    if (std::stoi(entry.path().filename().string()) <= 2) continue;
    const std::string target = fs::read_symlink(entry.path(), error).string();
    if (target.starts_with(dir.string() + "/")) return true;
  }
  return false;
}

// The writable memory of a (stopped) process, mapping after mapping.
std::string WritableMemoryOf(pid_t pid) {
  std::ifstream maps(Proc(pid, "maps"));
  const int mem = open(Proc(pid, "mem").c_str(), O_RDONLY);
  EXPECT_GE(mem, 0) << std::strerror(errno);
  std::string memory;
  std::string line;
  while (std::getline(maps, line)) {
    unsigned long start = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) != 3 || perms[1] != 'w') continue;
    std::string region(end - start, '\0');
    const ssize_t got = pread(mem, region.data(), region.size(), static_cast<off_t>(start));
    if (got > 0) memory.append(region, 0, static_cast<std::size_t>(got)).push_back('\0');
  }
  close(mem);
  return memory;
}

// The first piece of 16 characters of `secret` found in `memory`, or "".
// Pieces rather than the whole: freeing a block overwrites its first bytes,
// and a copy through registers may hold any part of it.
std::string PieceFound(const std::string &memory, const std::string &secret) {
  constexpr std::size_t kPiece = 16;
  for (std::size_t at = 0; at + kPiece <= secret.size(); ++at)
    if (memory.find(secret.substr(at, kPiece)) != std::string::npos) return secret.substr(at, kPiece);
  return "";
}

// Runs `command` to its end under ptrace and calls `atExit` while the
// process is stopped on its way out: its exit handlers and destructors
// have run, and its memory is still there to be read. Returns the wait
// status; 126 when tracing is not permitted.
int RunTracedToExit(const Command &command, const std::string &stdinPath, const std::string &outPath,
                    const std::string &errPath, const std::function<void(pid_t)> &atExit) {
  Child child(fork());
  if (child.pid() == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(126);
    PrepareChild();
    Redirect(0, stdinPath, O_RDONLY);
    Redirect(1, outPath, O_WRONLY | O_CREAT | O_TRUNC);
    Redirect(2, errPath, O_WRONLY | O_CREAT | O_TRUNC);
    raise(SIGSTOP);
    command.Exec();
  }
  int wstatus = Reap(child.pid());
  if (!WIFSTOPPED(wstatus)) {
    child.Release();
    return wstatus;
  }
  ptrace(PTRACE_SETOPTIONS, child.pid(), nullptr,
         PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL);
  int deliver = 0;
  for (;;) {
    ptrace(PTRACE_CONT, child.pid(), nullptr, deliver);
    wstatus = Reap(child.pid());
    if (!WIFSTOPPED(wstatus)) break;
    const int event = wstatus >> 16;
    if (event == PTRACE_EVENT_EXIT) atExit(child.pid());
    deliver =
        event == 0 && WSTOPSIG(wstatus) != SIGTRAP && WSTOPSIG(wstatus) != SIGSTOP ? WSTOPSIG(wstatus) : 0;
  }
  child.Release();
  return wstatus;
}

// Reads what the tool writes to its terminal until `until` appears (with
// an empty `until`: until the terminal is closed); gives up after 10 s.
std::string ReadTerminal(int master, const std::string &until) {
  std::string seen;
  while (until.empty() || seen.find(until) == std::string::npos) {
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 10000) <= 0) break;
    char buffer[256];
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(got));
  }
  return seen;
}

void Type(int master, const std::string &text) {
  EXPECT_EQ(write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// The terminal's echo flag, read through the master side.
bool EchoOn(int master) {
  termios settings;
  EXPECT_EQ(tcgetattr(master, &settings), 0) << std::strerror(errno);
  return (settings.c_lflag & ECHO) != 0;
}

// The tool as the foreground job of a terminal of its own, started the way
// a shell with job control starts it: in a process group of its own, whose
// parent (the "shell") stays in the session, so that it can be stopped
// and continued. The shell exits with the tool's exit status, or 128 plus
// the number of the signal that ended it.
class TerminalJob {
 public:
  TerminalJob(const Command &command, const std::string &stdinPath = "") {
    int report[2];
    shell_ = std::make_unique<Child>();
    if (pipe2(report, O_CLOEXEC) != 0) return;
    const pid_t shell = forkpty(&master_, nullptr, nullptr, nullptr);
    if (shell == 0) {
      const pid_t tool = fork();
      if (tool == 0) {
        // Taking the terminal from the background needs SIGTTOU blocked.
        sigset_t ttou;
        sigemptyset(&ttou);
        sigaddset(&ttou, SIGTTOU);
        sigprocmask(SIG_BLOCK, &ttou, nullptr);
        setpgid(0, 0);
        tcsetpgrp(STDIN_FILENO, getpid());
        sigprocmask(SIG_UNBLOCK, &ttou, nullptr);
        PrepareChild();
        if (!stdinPath.empty()) Redirect(0, stdinPath, O_RDONLY);
        command.Exec();
      }
      setpgid(tool, tool);
      if (write(report[1], &tool, sizeof tool) != sizeof tool) _exit(125);
      const int wstatus = Reap(tool);
      _exit(WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus));
    }
    close(report[1]);
    shell_ = std::make_unique<Child>(shell);
    pid_t tool = -1;
    if (shell > 0 && read(report[0], &tool, sizeof tool) == sizeof tool) tool_ = tool;
    close(report[0]);
  }
  ~TerminalJob() {
    if (tool_ > 0 && shell_ != nullptr && shell_->pid() > 0) kill(tool_, SIGKILL);
    shell_.reset();
    if (master_ >= 0) close(master_);
  }
  TerminalJob(const TerminalJob &) = delete;
  TerminalJob &operator=(const TerminalJob &) = delete;

  bool Started() const { return master_ >= 0 && tool_ > 0; }
  int master() const { return master_; }
  pid_t tool() const { return tool_; }

  // Reads the terminal until the tool's side is closed and returns the
  // shell's exit status; the terminal's output goes to `seen`.
  int Finish(std::string *seen = nullptr) {
    const std::string rest = ReadTerminal(master_, "");
    if (seen != nullptr) *seen = rest;
    const int wstatus = shell_->Wait();
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  }

 private:
  int master_ = -1;
  pid_t tool_ = -1;
  std::unique_ptr<Child> shell_;
};

// How many bytes of a key the cipher uses, worked out independently of the
// tool: each half (the outer DES key of the even-numbered bytes, the
// middle one of the odd-numbered bytes) is cut at its first zero byte, and
// is cut short when a non-zero byte follows.
std::string ExpectedWarning(std::span<const std::byte, kKeySize> key) {
  std::size_t inEffect[2] = {8, 8};
  bool cut[2] = {false, false};
  for (std::size_t half = 0; half < 2; ++half) {
    std::size_t zero = 8;
    for (std::size_t i = 0; i < 8; ++i) {
      const bool isZero = key[2 * i + half] == std::byte{0};
      if (isZero && zero == 8) zero = i;
      if (!isZero && zero < i) cut[half] = true;
    }
    if (cut[half]) inEffect[half] = zero;
  }
  if (!cut[0] && !cut[1]) return "";
  std::string text = "compatcrypt: warning: key: a zero byte cuts ";
  if (cut[0]) text += "the outer key to " + std::to_string(inEffect[0]) + " of 8 bytes";
  if (cut[0] && cut[1]) text += " and the middle key to " + std::to_string(inEffect[1]) + " of 8";
  if (!cut[0]) text += "the middle key to " + std::to_string(inEffect[1]) + " of 8 bytes";
  return text + "; " + std::to_string(inEffect[0] + inEffect[1]) + " of 16 key bytes are in effect\n";
}

std::string KeyLine(const std::string &password) { return Key::from_password(password).to_hex() + "\n"; }

class CliSecretsTest : public CliTest {
 protected:
  // A program other than the tool (the demonstration host), run like Tool.
  Outcome Run(const std::string &program, const std::vector<std::string> &args, const std::string &stdinPath,
              const std::map<std::string, std::string> &env = {}) {
    const Command command(program, args, env);
    Child child(fork());
    if (child.pid() == 0) {
      PrepareChild();
      Redirect(0, stdinPath, O_RDONLY);
      Redirect(1, Capture("out"), O_WRONLY | O_CREAT | O_TRUNC);
      Redirect(2, Capture("err"), O_WRONLY | O_CREAT | O_TRUNC);
      command.Exec();
    }
    const int wstatus = child.Wait();
    Outcome run;
    if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
    run.out = ReadText(Capture("out"));
    run.err = ReadText(Capture("err"));
    return run;
  }

  // The tool with standard input from the FIFO `Capture("input")` and the
  // given signals ignored from the start; its output goes to capture files.
  pid_t StartOnFifo(const Command &command, const std::vector<int> &ignored = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
      PrepareChild(ignored);
      Redirect(0, Capture("input"), O_RDONLY);
      Redirect(1, Capture("out"), O_WRONLY | O_CREAT | O_TRUNC);
      Redirect(2, Capture("err"), O_WRONLY | O_CREAT | O_TRUNC);
      command.Exec();
    }
    return pid;
  }

  std::string Capture(const std::string &name) const { return (root_ / "capture" / name).string(); }
};

// Writes all of `bytes` to a FIFO (the tool at the other end may be gone).
void Feed(int fd, const ByteVector &bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put <= 0) return;
    done += static_cast<std::size_t>(put);
  }
}

// A FIFO writer that survives the reader's death: SIGPIPE is ignored
// while it exists.
class FifoFeed {
 public:
  explicit FifoFeed(const std::string &path) : previous_(std::signal(SIGPIPE, SIG_IGN)) {
    fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  }
  ~FifoFeed() {
    Close();
    std::signal(SIGPIPE, previous_);
  }
  FifoFeed(const FifoFeed &) = delete;
  FifoFeed &operator=(const FifoFeed &) = delete;
  void Write(const ByteVector &bytes) { Feed(fd_, bytes); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  bool Open() const { return fd_ >= 0; }

 private:
  sighandler_t previous_;
  int fd_ = -1;
};

// --key-file and --key-env read the same 32 hex digits as --key: the key
// file's first line without its LF or CRLF.
TEST_F(CliSecretsTest, KeyFileAndKeyVariableGiveTheKeyOfKey) {
  std::mt19937_64 rng(11);
  const ByteVector plain = RandomBytes<std::byte>(rng, 1000 + 5);
  const std::string in = Write("plain.bin", plain);
  const Bytes expected = CEncode(plain, Key::from_hex(kWholeKeyHex).bytes());
  const std::string hex = kWholeKeyHex;
  std::string upper = hex;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  const std::vector<std::pair<const char *, std::vector<std::string>>> sources = {
      {"--key", {"--key", hex}},
      {"--key=", {"--key=" + hex}},
      {"key file with LF", {"--key-file", Write("lf.key", hex + "\n")}},
      {"key file with CRLF", {"--key-file", Write("crlf.key", hex + "\r\n")}},
      {"key file without line ending", {"--key-file", Write("bare.key", hex)}},
      {"key file with a second line", {"--key-file", Write("two.key", hex + "\nnot a key\n")}},
      {"upper-case key file", {"--key-file", Write("upper.key", upper + "\n")}},
      {"key variable", {"--key-env", "CC_TEST_KEY"}},
  };
  for (const auto &[what, source] : sources) {
    SCOPED_TRACE(what);
    fs::remove(work() / "coded.bin");
    Spawn encode{.args = {"encode", "-i", in, "-o", At("coded.bin")}, .env = {{"CC_TEST_KEY", hex}}};
    encode.args.insert(encode.args.end(), source.begin(), source.end());
    const Outcome run = Tool(encode);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ToBytes(Read("coded.bin")), expected);
  }
}

// A key the tool cannot use: an argument that is not 32 hex digits is a
// usage error (2); a key file or variable that does not hold one is a
// failure (1) naming the file or variable. Nothing is created either way.
TEST_F(CliSecretsTest, MalformedKeysAreRefused) {
  const std::string in = Write("plain.bin", "some plain data");
  struct Case {
    const char *what;
    std::vector<std::string> key;
    int status;
    std::string subject;
  };
  const std::vector<Case> cases = {
      {"short --key", {"--key", "00112233"}, 2, "--key"},
      {"long --key", {"--key", std::string(kWholeKeyHex) + "00"}, 2, "--key"},
      {"non-hex --key", {"--key", NonHexKey()}, 2, "--key"},
      {"empty --key=", {"--key="}, 2, "--key"},
      {"--key= with spaces", {"--key= " + std::string(kWholeKeyHex).substr(1)}, 2, "--key"},
      {"missing key file", {"--key-file", At("nokey")}, 1, At("nokey")},
      {"key file of a password", {"--key-file", Write("pw.key", "not a hex key\n")}, 1, At("pw.key")},
      {"empty key file", {"--key-file", Write("empty.key", "")}, 1, At("empty.key")},
      {"key file with a space",
       {"--key-file", Write("space.key", std::string(kWholeKeyHex) + " \n")},
       1,
       At("space.key")},
      {"unset key variable", {"--key-env", "CC_TEST_UNSET_KEY"}, 1, "CC_TEST_UNSET_KEY"},
      {"key variable not hex", {"--key-env", "CC_TEST_BAD_KEY"}, 1, "CC_TEST_BAD_KEY"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string> before = Listing();
    Spawn encode{.args = {"encode", "-i", in, "-o", At("coded.bin")}, .env = {{"CC_TEST_BAD_KEY", "xyz"}}};
    encode.args.insert(encode.args.end(), c.key.begin(), c.key.end());
    const Outcome run = Tool(encode);
    EXPECT_EQ(run.status, c.status);
    EXPECT_THAT(run.err, testing::StartsWith("compatcrypt: " + c.subject + ": "));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Listing(), before);
  }
}

TEST_F(CliSecretsTest, HelpSaysTheKeyArgumentIsVisibleToOtherUsers) {
  for (const char *command : {"encode", "decode"}) {
    SCOPED_TRACE(command);
    const Outcome run = Tool({command, "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("visible to other users"));
    EXPECT_THAT(run.out, HasSubstr("--key-file"));
    EXPECT_THAT(run.out, HasSubstr("--key-env"));
  }
}

// No copy of the key or password text (nor of the printed key) is left in
// the tool's memory when it exits: the argument is taken out of the command
// line (so that /proc/PID/cmdline no longer shows it) before the option
// parser copies it, files are read into buffers that are wiped, and keygen
// writes its line from a buffer it wipes. Checked at the process's exit,
// where a copy in freed memory or in saved registers would still be found.
TEST_F(CliSecretsTest, NoCopyOfKeyOrPasswordTextIsLeftInMemory) {
  COMPATCRYPT_SKIP_IF_TOOL_SANITIZED();
  const std::string in = Write("plain.bin", std::string(5000, 'p'));
  const std::string hex = "13579bdf2468ace0fdb97531eca86421";
  const std::string password = "a password of some length, not to be found again: 8d1c";
  struct Case {
    const char *what;
    std::vector<std::string> args;
    std::vector<std::string> secrets;
  };
  const std::vector<Case> cases = {
      {"--key HEX", {"encode", "-i", in, "-o", At("coded1"), "--key", hex}, {hex}},
      {"--key=HEX", {"decode", "-i", in, "-o", At("coded2"), "--key=" + hex}, {hex}},
      {"--key-file", {"encode", "-i", in, "-o", At("coded3"), "--key-file", Write("k", hex + "\n")}, {hex}},
      {"--password-file",
       {"encode", "-i", in, "-o", At("coded4"), "--password-file", Write("p1", password)},
       {password}},
      {"keygen --password-file",
       {"keygen", "--password-file", Write("p2", password + "\n")},
       {password, Key::from_password(password).to_hex()}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Command command(COMPATCRYPT_CLI, c.args);
    bool inspected = false;
    const int wstatus = RunTracedToExit(command, "/dev/null", Capture("out"), Capture("err"), [&](pid_t pid) {
      inspected = true;
      const std::string commandLine = ReadText(Proc(pid, "cmdline"));
      const std::string memory = WritableMemoryOf(pid);
      for (const std::string &secret : c.secrets) {
        EXPECT_EQ(PieceFound(memory, secret), "") << secret;
        EXPECT_EQ(PieceFound(commandLine, secret), "") << secret;
      }
    });
    if (WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 126) GTEST_SKIP() << "tracing is not permitted here";
    EXPECT_TRUE(inspected);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0) << ReadText(Capture("err"));
  }
  EXPECT_EQ(ReadText(Capture("out")), KeyLine(password));
}

// One rule for password files, in the tool and in the demonstration host:
// the first line without its line ending, LF or CRLF; a CR that is not
// followed by an LF is part of the password.
TEST_F(CliSecretsTest, PasswordFileIsItsFirstLineWithoutLfOrCrlf) {
  std::mt19937_64 rng(12);
  const ByteVector plain = RandomBytes<std::byte>(rng, 203);
  const std::string plainPath = Write("plain.bin", plain);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"pass word\n", "pass word"},
      {"pass word\r\n", "pass word"},
      {"pass word", "pass word"},
      {"pass word\nsecond line\n", "pass word"},
      {"pass word\r\nsecond line\r\n", "pass word"},
      {"pass word\r", "pass word\r"},
      {"pass\rword\n", "pass\rword"},
      {"pass word\r\r\n", "pass word\r"},
      {" pass word \t\n", " pass word \t"},
  };
  int index = 0;
  for (const auto &[content, password] : files) {
    SCOPED_TRACE("file " + std::to_string(index++) + ": " + testing::PrintToString(content));
    const std::string file = Write("password.txt", content);
    Outcome run = Tool({"keygen", "--password-file", file});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, KeyLine(password));

    fs::remove(work() / "coded.bin");
    run = Tool({"encode", "--password-file", file, "-i", plainPath, "-o", At("coded.bin")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ToBytes(Read("coded.bin")), CEncodeKey(password, plain));
#ifdef COMPATCRYPT_DEMO
    run = Run(COMPATCRYPT_DEMO, {"keygen"}, file);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, KeyLine(password));
    run = Run(COMPATCRYPT_DEMO, {"encode", "--password-file", file, plainPath}, "/dev/null");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ToBytes(run.out), CEncodeKey(password, plain));
#endif
  }
}

// The empty password's key is the same for everyone: refused as a usage
// error from any source unless --allow-empty-password is given.
TEST_F(CliSecretsTest, EmptyPasswordIsRefusedUnlessAllowed) {
  const std::string in = Write("plain.bin", "plain data");
  const std::vector<std::pair<const char *, std::vector<std::string>>> sources = {
      {"empty file", {"--password-file", Write("empty", "")}},
      {"empty first line", {"--password-file", Write("lf", "\nsecond line\n")}},
      {"empty first line with CRLF", {"--password-file", Write("crlf", "\r\n")}},
      {"empty variable", {"--password-env", "CC_TEST_EMPTY"}},
  };
  for (const auto &[what, source] : sources) {
    SCOPED_TRACE(what);
    for (const char *command : {"keygen", "encode", "decode"}) {
      SCOPED_TRACE(command);
      const std::vector<std::string> before = Listing();
      Spawn refused{.args = {command}, .env = {{"CC_TEST_EMPTY", ""}}};
      if (std::string(command) != "keygen")
        refused.args.insert(refused.args.end(), {"-i", in, "-o", At("out.bin")});
      refused.args.insert(refused.args.end(), source.begin(), source.end());
      Outcome run = Tool(refused);
      EXPECT_EQ(run.status, 2);
      EXPECT_THAT(run.err, testing::StartsWith("compatcrypt: "));
      EXPECT_THAT(run.err, HasSubstr("--allow-empty-password"));
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(Listing(), before);
    }
    Spawn allowed{.args = {"keygen", "--allow-empty-password"}, .env = {{"CC_TEST_EMPTY", ""}}};
    allowed.args.insert(allowed.args.end(), source.begin(), source.end());
    const Outcome run = Tool(allowed);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, KeyLine(""));
  }
}

TEST_F(CliSecretsTest, EmptyPasswordOnTheTerminalIsRefusedUnlessAllowed) {
  for (const bool allow : {false, true}) {
    SCOPED_TRACE(allow ? "allowed" : "refused");
    const Command command(COMPATCRYPT_CLI, allow
                                               ? std::vector<std::string>{"keygen", "--allow-empty-password"}
                                               : std::vector<std::string>{"keygen"});
    TerminalJob job(command);
    ASSERT_TRUE(job.Started());
    EXPECT_THAT(ReadTerminal(job.master(), "Password: "), HasSubstr("Password: "));
    Type(job.master(), "\n");
    std::string seen;
    const int status = job.Finish(&seen);
    if (allow) {
      EXPECT_EQ(status, 0) << seen;
      EXPECT_THAT(seen, HasSubstr(Key::from_password("").to_hex()));
    } else {
      EXPECT_EQ(status, 2) << seen;
      EXPECT_THAT(seen, HasSubstr("--allow-empty-password"));
    }
  }
}

// Each DES key is read up to its first zero byte; when that drops non-zero
// bytes, a warning names the key bytes in effect (the key is still used,
// as the library uses it). Zero bytes that only end a half drop nothing.
TEST_F(CliSecretsTest, KeysCutShortByAZeroByteGetAWarning) {
  const std::string in = Write("plain.bin", "sixteen bytes!!!");
  struct Case {
    const char *what;
    std::string hex;
    std::string warning;  // without "compatcrypt: warning: key: a zero byte cuts " and the count
  };
  const std::vector<Case> cases = {
      {"no zero byte", kWholeKeyHex, ""},
      {"all zero", std::string(32, '0'), ""},
      {"zero bytes that end both halves", "112233445566778899aabbccdd000000", ""},
      {"outer cut", "11223344556600778899aabbccddeeff", "the outer key to 3 of 8 bytes; 11 of 16"},
      {"middle cut", "11223344556677008899aabbccddeeff", "the middle key to 3 of 8 bytes; 11 of 16"},
      {"both cut at the start", "0000" + std::string(28, 'f'),
       "the outer key to 0 of 8 bytes and the middle key to 0 of 8; 0 of 16"},
      {"one middle byte left", "00ffff00" + std::string(24, 'f'),
       "the outer key to 0 of 8 bytes and the middle key to 1 of 8; 1 of 16"},
      {"the test key", kKeyHex, "the outer key to 5 of 8 bytes and the middle key to 0 of 8; 5 of 16"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Key key = Key::from_hex(c.hex);
    const std::string warning = c.warning.empty() ? ""
                                                  : "compatcrypt: warning: key: a zero byte cuts " +
                                                        c.warning + " key bytes are in effect\n";
    EXPECT_EQ(ExpectedWarning(key.bytes()), warning);
    const std::vector<std::vector<std::string>> sources = {
        {"--key", c.hex}, {"--key-file", Write("key.txt", c.hex + "\n")}, {"--key-env", "CC_TEST_KEY"}};
    for (const auto &source : sources) {
      SCOPED_TRACE(source[0]);
      fs::remove(work() / "coded.bin");
      Spawn encode{.args = {"encode", "-i", in, "-o", At("coded.bin")}, .env = {{"CC_TEST_KEY", c.hex}}};
      encode.args.insert(encode.args.end(), source.begin(), source.end());
      const Outcome run = Tool(encode);
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.err, warning);
      EXPECT_EQ(ToBytes(Read("coded.bin")), CEncode(AsByteVector("sixteen bytes!!!"), key.bytes()));
    }
  }
  // What the warning is about: this key encodes like the all-zero key.
  EXPECT_EQ(CEncode(AsByteVector("sixteen bytes!!!"), Key::from_hex("0000" + std::string(28, 'f')).bytes()),
            CEncode(AsByteVector("sixteen bytes!!!"), Bytes(16, 0)));
}

// A password's key can hold zero bytes too: the warning comes with keygen,
// encode and decode alike.
TEST_F(CliSecretsTest, PasswordKeysCutShortByAZeroByteGetAWarning) {
  std::string cutPassword;
  std::string wholePassword;
  for (int i = 0; cutPassword.empty() || wholePassword.empty(); ++i) {
    const std::string candidate = "password " + std::to_string(i);
    const bool cut = !ExpectedWarning(Key::from_password(candidate).bytes()).empty();
    (cut ? cutPassword : wholePassword) = candidate;
  }
  const std::string in = Write("plain.bin", "data");
  for (const std::string &password : {cutPassword, wholePassword}) {
    SCOPED_TRACE(password);
    const std::string warning = ExpectedWarning(Key::from_password(password).bytes());
    for (const char *command : {"keygen", "encode", "decode"}) {
      SCOPED_TRACE(command);
      Spawn run{.args = {command, "--password-env", "CC_TEST_PASSWORD"},
                .env = {{"CC_TEST_PASSWORD", password}}};
      if (std::string(command) != "keygen") run.args.insert(run.args.end(), {"-i", in});
      const Outcome outcome = Tool(run);
      EXPECT_EQ(outcome.status, 0);
      EXPECT_EQ(outcome.err, warning);
      if (std::string(command) == "keygen") {
        EXPECT_EQ(outcome.out, KeyLine(password));
      }
    }
  }
}

// The password is asked on the terminal (/dev/tty) even when standard input
// is the data to encode, and what is typed is not taken from that data.
TEST_F(CliSecretsTest, PasswordPromptUsesTheTerminalWhileStandardInputIsData) {
  std::mt19937_64 rng(13);
  const ByteVector plain = RandomBytes<std::byte>(rng, 3000 + 1);
  const std::string in = Write("plain.bin", plain);
  const Command command(COMPATCRYPT_CLI, {"encode", "-o", At("coded.bin")});
  TerminalJob job(command, in);
  ASSERT_TRUE(job.Started());
  EXPECT_THAT(ReadTerminal(job.master(), "Password: "), HasSubstr("Password: "));
  Type(job.master(), "typed secret\n");
  EXPECT_THAT(ReadTerminal(job.master(), "Repeat password: "), HasSubstr("Repeat password: "));
  Type(job.master(), "typed secret\n");
  std::string seen;
  EXPECT_EQ(job.Finish(&seen), 0) << seen;
  EXPECT_THAT(seen, testing::Not(HasSubstr("typed secret")));
  EXPECT_EQ(ToBytes(Read("coded.bin")), CEncodeKey("typed secret", plain));
}

// A signal that ends the tool at the prompt gives the terminal its echo
// back, and the tool dies by that signal.
TEST_F(CliSecretsTest, EchoComesBackWhenASignalEndsThePrompt) {
  for (const int signal : kEndingSignals) {
    SCOPED_TRACE(SignalName(signal));
    const Command command(COMPATCRYPT_CLI, {"keygen"});
    TerminalJob job(command);
    ASSERT_TRUE(job.Started());
    EXPECT_THAT(ReadTerminal(job.master(), "Password: "), HasSubstr("Password: "));
    EXPECT_FALSE(EchoOn(job.master()));
    kill(job.tool(), signal);
    std::string seen;
    EXPECT_EQ(job.Finish(&seen), 128 + signal) << seen;
    EXPECT_TRUE(EchoOn(job.master()));
  }
}

// Ctrl-Z at the prompt: the terminal has its echo while the tool is
// stopped, loses it again when the tool continues, and the password typed
// then is read.
TEST_F(CliSecretsTest, EchoComesBackWhileStoppedAtThePrompt) {
  const Command command(COMPATCRYPT_CLI, {"keygen"});
  TerminalJob job(command);
  ASSERT_TRUE(job.Started());
  EXPECT_THAT(ReadTerminal(job.master(), "Password: "), HasSubstr("Password: "));
  EXPECT_FALSE(EchoOn(job.master()));
  Type(job.master(), "\x1a");  // the terminal's suspend character: SIGTSTP
  ASSERT_TRUE(WaitUntil([&] { return StateOf(job.tool()) == 'T'; }));
  EXPECT_TRUE(EchoOn(job.master()));
  kill(job.tool(), SIGCONT);
  EXPECT_TRUE(WaitUntil([&] { return StateOf(job.tool()) != 'T' && !EchoOn(job.master()); }));
  Type(job.master(), "hunter2\n");
  std::string seen;
  EXPECT_EQ(job.Finish(&seen), 0) << seen;
  EXPECT_THAT(seen, HasSubstr(Key::from_password("hunter2").to_hex()));
  EXPECT_THAT(seen, testing::Not(HasSubstr("hunter2")));
  EXPECT_TRUE(EchoOn(job.master()));
}

// A signal ignored when the tool starts (nohup, background jobs) stays
// ignored: the tool carries on and finishes its output.
TEST_F(CliSecretsTest, SignalsIgnoredAtTheStartStayIgnored) {
  std::mt19937_64 rng(14);
  const ByteVector first = RandomBytes<std::byte>(rng, 100000);
  const ByteVector second = RandomBytes<std::byte>(rng, 5003);
  ByteVector all = first;
  all.insert(all.end(), second.begin(), second.end());
  const Bytes expected = CEncode(all, Key::from_hex(kWholeKeyHex).bytes());
  ASSERT_EQ(mkfifo(Capture("input").c_str(), 0600), 0);
  for (const int signal : kEndingSignals) {
    SCOPED_TRACE(SignalName(signal));
    fs::remove(work() / "coded.bin");
    const Command command(COMPATCRYPT_CLI, {"encode", "--key", kWholeKeyHex, "-o", At("coded.bin")});
    Child tool(StartOnFifo(command, {signal}));
    FifoFeed input(Capture("input"));
    ASSERT_TRUE(input.Open());
    input.Write(first);
    ASSERT_TRUE(WaitUntil([&] { return HasFileOpenIn(tool.pid(), work()); }));
    kill(tool.pid(), signal);
    input.Write(second);
    input.Close();
    const int wstatus = tool.Wait();
    ASSERT_TRUE(WIFEXITED(wstatus)) << "ended by signal " << (WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0);
    EXPECT_EQ(WEXITSTATUS(wstatus), 0) << ReadText(Capture("err"));
    EXPECT_EQ(ToBytes(Read("coded.bin")), expected);
  }
}

// Every signal that ends the tool while it writes its output leaves no
// output and no temporary file behind, and the tool dies by that signal.
TEST_F(CliSecretsTest, EndingSignalsLeaveNoFileBehind) {
  std::mt19937_64 rng(15);
  const ByteVector first = RandomBytes<std::byte>(rng, 200000);
  ASSERT_EQ(mkfifo(Capture("input").c_str(), 0600), 0);
  for (const int signal : kEndingSignals) {
    SCOPED_TRACE(SignalName(signal));
    const Command command(COMPATCRYPT_CLI, {"decode", "--key", kWholeKeyHex, "-o", At("plain.bin")});
    Child tool(StartOnFifo(command));
    FifoFeed input(Capture("input"));
    ASSERT_TRUE(input.Open());
    input.Write(first);
    ASSERT_TRUE(WaitUntil([&] { return HasFileOpenIn(tool.pid(), work()); }));
    kill(tool.pid(), signal);
    const int wstatus = tool.Wait();
    ASSERT_TRUE(WIFSIGNALED(wstatus));
    EXPECT_EQ(WTERMSIG(wstatus), signal);
    EXPECT_EQ(Listing(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace compatcrypt::test
