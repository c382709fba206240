// The fixture of the tool's tests: the compatcrypt tool run as a separate
// process in a scratch directory of its own, with its exit status and
// outputs captured.
#pragma once

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "compatcrypt.hpp"
#include "support/test_support.h"

extern char **environ;

namespace compatcrypt::test {

namespace fs = std::filesystem;
using testing::HasSubstr;

// A tool built with a sanitizer keeps copies of memory of its own (freed
// blocks in quarantine, shadow and fake stacks), so scanning its memory for
// secrets says nothing there.
#if COMPATCRYPT_TOOL_SANITIZED
#define COMPATCRYPT_SKIP_IF_TOOL_SANITIZED() GTEST_SKIP() << "the tool is built with a sanitizer"
#else
#define COMPATCRYPT_SKIP_IF_TOOL_SANITIZED() static_cast<void>(0)
#endif

// The name as the tool's lines show it: with a backslash, newline or
// carriage return escaped, behind a leading backslash.
inline std::string Shown(const std::string &name) {
  std::string escaped;
  for (const char c : name) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '\n')
      escaped += "\\n";
    else if (c == '\r')
      escaped += "\\r";
    else
      escaped += c;
  }
  return escaped == name ? name : "\\" + escaped;
}

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

struct Spawn {
  std::vector<std::string> args;
  std::string stdinPath = "/dev/null";
  std::string stdoutPath = "";  // empty: captured
  std::map<std::string, std::string> env = {};
};

inline std::string ReadText(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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

  Outcome Tool(const Spawn &spawn) {
    const fs::path out = spawn.stdoutPath.empty() ? root_ / "capture" / "out" : fs::path(spawn.stdoutPath);
    const fs::path err = root_ / "capture" / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, spawn.stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> args{COMPATCRYPT_CLI};
    args.insert(args.end(), spawn.args.begin(), spawn.args.end());
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char **e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
    for (const auto &[name, value] : spawn.env) envStrings.push_back(name + "=" + value);
    std::vector<char *> envp;
    for (std::string &entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);

    Outcome run;
    pid_t pid;
    const int spawned = posix_spawn(&pid, COMPATCRYPT_CLI, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      ADD_FAILURE() << "cannot run " << COMPATCRYPT_CLI;
      return run;
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
    if (spawn.stdoutPath.empty()) run.out = ReadText(out);
    run.err = ReadText(err);
    return run;
  }

  Outcome Tool(std::vector<std::string> args) { return Tool(Spawn{.args = std::move(args)}); }

  fs::path root_;
};

inline std::string FileDigestHex(const std::string &path, int32_t offset = 0) {
  return ToHex(CFileDigest(path, offset));
}

}  // namespace compatcrypt::test
