#include "tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char **environ;

namespace compatcrypt::test {

std::string SignalName(int signal) { return std::string(sigabbrev_np(signal)); }

std::string ReadText(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {

std::string OnPath(const std::string &program) {
  if (program.find('/') != std::string::npos) return program;
  const char *path = std::getenv("PATH");
  std::stringstream directories(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string directory; std::getline(directories, directory, ':');) {
    const std::string candidate = (directory.empty() ? "." : directory) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return program;
}

}  // namespace

Command::Command(const std::string &program, std::vector<std::string> args,
                 const std::map<std::string, std::string> &env)
    : path_(OnPath(program)), args_(std::move(args)) {
  args_.insert(args_.begin(), program);
  for (std::string &arg : args_) argv_.push_back(arg.data());
  argv_.push_back(nullptr);
  for (char **e = environ; *e != nullptr; ++e) env_.emplace_back(*e);
  for (const auto &[name, value] : env) env_.push_back(name + "=" + value);
  for (std::string &entry : env_) envp_.push_back(entry.data());
  envp_.push_back(nullptr);
}

void Command::Exec() const {
  execve(path_.c_str(), argv_.data(), envp_.data());
  _exit(127);
}

void PrepareChild(const std::vector<int> &ignored) {
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

Child::~Child() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Reap(pid_);
  }
}

int Child::Wait() {
  const int wstatus = Reap(pid_);
  pid_ = -1;
  return wstatus;
}

pid_t StartProcess(const Command &command, const Streams &streams) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  PrepareChild(streams.ignored);
  if (streams.inFd >= 0)
    dup2(streams.inFd, 0);
  else
    Redirect(0, streams.in, O_RDONLY);
  if (streams.outFd >= 0)
    dup2(streams.outFd, 1);
  else
    Redirect(1, streams.out, O_WRONLY | O_CREAT | O_TRUNC);
  Redirect(2, streams.err, O_WRONLY | O_CREAT | O_TRUNC);
  if (!streams.cwd.empty() && chdir(streams.cwd.c_str()) != 0) _exit(126);
  command.Exec();
}

bool WaitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout,
               std::chrono::microseconds interval) {
  for (auto deadline = std::chrono::steady_clock::now() + timeout;
       std::chrono::steady_clock::now() < deadline;) {
    if (condition()) return true;
    std::this_thread::sleep_for(interval);
  }
  return condition();
}

std::string Proc(pid_t pid, const std::string &entry) { return "/proc/" + std::to_string(pid) + "/" + entry; }

char StateOf(pid_t pid) {
  const std::string stat = ReadText(Proc(pid, "stat"));
  const std::size_t end = stat.rfind(") ");
  return end == std::string::npos ? '?' : stat[end + 2];
}

std::vector<std::pair<int, std::string>> OpenFilesIn(pid_t pid, const fs::path &dir) {
  std::vector<std::pair<int, std::string>> open;
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(Proc(pid, "fd"), error)) {
    const int fd = std::stoi(entry.path().filename().string());
    if (fd <= 2) continue;
    std::error_code linkError;
    const std::string target = fs::read_symlink(entry.path(), linkError).string();
    if (target.starts_with(dir.string() + "/")) open.emplace_back(fd, target);
  }
  return open;
}

int DescriptorOn(pid_t pid, const std::string &path) {
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(Proc(pid, "fd"), error)) {
    std::error_code linkError;
    if (fs::read_symlink(entry.path(), linkError).string() == path)
      return std::stoi(entry.path().filename().string());
  }
  return -1;
}

long long OffsetOf(pid_t pid, int fd) {
  std::ifstream info(Proc(pid, "fdinfo/" + std::to_string(fd)));
  std::string field;
  long long value = -1;
  while (info >> field)
    if (field == "pos:" && info >> value) return value;
  return -1;
}

std::string WritableMemoryOf(pid_t pid) {
  std::ifstream maps(Proc(pid, "maps"));
  const int mem = open(Proc(pid, "mem").c_str(), O_RDONLY | O_CLOEXEC);
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

std::string PieceFound(const std::string &memory, const std::string &secret) {
  constexpr std::size_t kPiece = 16;
  for (std::size_t at = 0; at + kPiece <= secret.size(); ++at)
    if (memory.find(secret.substr(at, kPiece)) != std::string::npos) return secret.substr(at, kPiece);
  return "";
}

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

std::string ReadToEnd(int fd) {
  std::string data;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return data;
    data.append(buffer, static_cast<std::size_t>(got));
  }
}

std::string ReadTerminal(int master, const std::string &until, std::chrono::milliseconds timeout) {
  std::string seen;
  while (until.empty() || seen.find(until) == std::string::npos) {
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) break;
    char buffer[4096];
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(got));
  }
  return seen;
}

void Type(int master, const std::string &text) {
  EXPECT_EQ(write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

bool EchoOn(int master) {
  termios settings;
  EXPECT_EQ(tcgetattr(master, &settings), 0) << std::strerror(errno);
  return (settings.c_lflag & ECHO) != 0;
}

TerminalJob::TerminalJob(const Command &command, const TerminalOptions &options) {
  int report[2];
  int gate[2] = {-1, -1};
  shell_ = std::make_unique<Child>();
  if (pipe2(report, O_CLOEXEC) != 0) return;
  if (options.held && pipe2(gate, O_CLOEXEC) != 0) return;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = options.columns;
  const pid_t shell = forkpty(&master_, nullptr, nullptr, options.columns != 0 ? &size : nullptr);
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
      if (!options.stdinPath.empty()) Redirect(0, options.stdinPath, O_RDONLY);
      if (!options.stdoutPath.empty()) Redirect(1, options.stdoutPath, O_WRONLY | O_CREAT | O_TRUNC);
      if (options.held) {
        close(gate[1]);
        char go;
        ssize_t got;
        while ((got = read(gate[0], &go, 1)) < 0 && errno == EINTR) {
        }
        if (got != 1) _exit(126);
      }
      command.Exec();
    }
    if (options.held) {
      close(gate[0]);
      close(gate[1]);
    }
    setpgid(tool, tool);
    if (write(report[1], &tool, sizeof tool) != sizeof tool) _exit(125);
    const int wstatus = Reap(tool);
    _exit(WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus));
  }
  close(report[1]);
  if (options.held) {
    close(gate[0]);
    gate_ = gate[1];
  }
  shell_ = std::make_unique<Child>(shell);
  pid_t tool = -1;
  if (shell > 0 && read(report[0], &tool, sizeof tool) == sizeof tool) tool_ = tool;
  close(report[0]);
}

TerminalJob::~TerminalJob() {
  if (tool_ > 0 && shell_ != nullptr && shell_->pid() > 0) kill(tool_, SIGKILL);
  if (gate_ >= 0) close(gate_);
  shell_.reset();
  if (master_ >= 0) close(master_);
}

void TerminalJob::Start() {
  if (gate_ < 0) return;
  EXPECT_EQ(write(gate_, "g", 1), 1);
  close(gate_);
  gate_ = -1;
}

int TerminalJob::Finish(std::string *seen, std::chrono::milliseconds timeout) {
  const std::string rest = ReadTerminal(master_, "", timeout);
  if (seen != nullptr) *seen = rest;
  const int wstatus = shell_->Wait();
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

void Feed(int fd, const ByteVector &bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put <= 0) return;
    done += static_cast<std::size_t>(put);
  }
}

FifoFeed::FifoFeed(const std::string &path) : previous_(std::signal(SIGPIPE, SIG_IGN)) {
  fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
}

FifoFeed::~FifoFeed() {
  Close();
  std::signal(SIGPIPE, previous_);
}

void FifoFeed::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace compatcrypt::test
