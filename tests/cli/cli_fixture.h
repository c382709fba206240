// The fixture of the tool's tests: the compatcrypt tool (or another
// program) run as a separate process in a scratch directory of its own,
// with its exit status and outputs captured.
#pragma once

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "compatcrypt.hpp"
#include "support/test_support.h"
#include "tool_process.h"

namespace compatcrypt::test {

using testing::HasSubstr;

// A tool built with a sanitizer keeps copies of memory of its own (freed
// blocks in quarantine, shadow and fake stacks), so scanning its memory for
// secrets says nothing there.
#if COMPATCRYPT_TOOL_SANITIZED
#define COMPATCRYPT_SKIP_IF_TOOL_SANITIZED() GTEST_SKIP() << "the tool is built with a sanitizer"
#else
#define COMPATCRYPT_SKIP_IF_TOOL_SANITIZED() static_cast<void>(0)
#endif

inline constexpr const char *kKeyHex = "8a00d5e3f1007c2b9e4d00aa11223344";

// kKeyHex with a letter that is not a hex digit.
inline std::string NonHexKey() {
  std::string key = kKeyHex;
  key[1] = 'z';
  return key;
}

struct Outcome {
  int status = -1;  // the exit status; -1 if the tool did not exit normally
  std::string out;
  std::string err;
};

// A run of the tool (or of `program`): its standard input from a file or a
// descriptor of the test, its standard output captured, into a file or a
// descriptor of the test; its standard error captured.
struct Spawn {
  std::vector<std::string> args;
  std::string stdinPath = "/dev/null";
  std::string stdoutPath = "";  // empty: captured
  std::map<std::string, std::string> env = {};
  int in = -1;                            // >= 0: standard input instead of stdinPath
  int out = -1;                           // >= 0: standard output instead of stdoutPath
  std::string cwd = "";                   // empty: the test's own
  std::vector<int> ignored = {};          // signals ignored from the start
  std::string program = COMPATCRYPT_CLI;  // a name without a slash is looked up on PATH
};

class CliTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(testing::TempDir()) / ("compatcrypt_cli_" + std::to_string(getpid()) + "_" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(work());
    fs::create_directories(root_ / "capture");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path work() const { return root_ / "work"; }
  std::string At(const std::string &name) const { return (work() / name).string(); }

  std::string Write(const std::string &name, const ByteVector &content) {
    std::ofstream(work() / name, std::ios::binary)
        .write(reinterpret_cast<const char *>(content.data()), static_cast<std::streamsize>(content.size()));
    return At(name);
  }
  std::string Write(const std::string &name, const std::string &text) {
    return Write(name, AsByteVector(text));
  }

  ByteVector Read(const std::string &name) const { return AsByteVector(ReadText(work() / name)); }

  // The names in the work directory, temporary files included.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(work()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Starts a run without waiting for it.
  pid_t Start(const Spawn &spawn) {
    const bool captured = spawn.out < 0 && spawn.stdoutPath.empty();
    // An output that went elsewhere reads as empty.
    if (!captured) fs::remove(Capture("out"));
    const Command command(spawn.program, spawn.args, spawn.env);
    const pid_t pid = StartProcess(command, {.in = spawn.stdinPath,
                                             .inFd = spawn.in,
                                             .out = captured ? Capture("out") : spawn.stdoutPath,
                                             .outFd = spawn.out,
                                             .err = Capture("err"),
                                             .cwd = spawn.cwd,
                                             .ignored = spawn.ignored});
    if (pid < 0) ADD_FAILURE() << "cannot run " << spawn.program;
    return pid;
  }

  // Waits for a started run: its exit status (-1 if a signal ended it),
  // its standard output if it was captured, and its standard error.
  Outcome Finish(pid_t pid) {
    Outcome run;
    if (pid > 0) {
      const int wstatus = Reap(pid);
      if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
    }
    run.out = ReadText(Capture("out"));
    run.err = ReadText(Capture("err"));
    return run;
  }

  Outcome Tool(const Spawn &spawn) { return Finish(Start(spawn)); }
  Outcome Tool(std::vector<std::string> args) { return Tool(Spawn{.args = std::move(args)}); }

  // A file of the capture directory: "out", "err", or one of the test's.
  std::string Capture(const std::string &name) const { return (root_ / "capture" / name).string(); }

  fs::path root_;
};

inline std::string FileDigestHex(const std::string &path, int32_t offset = 0) {
  return ToHex(CFileDigest(path, offset));
}

}  // namespace compatcrypt::test
