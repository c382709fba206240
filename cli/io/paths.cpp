#include "io/paths.h"

#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "support/failure.h"

namespace compatcrypt::cli {

namespace {

std::string ReadLink(const std::string &path, const std::string &subject) {
  std::string target(PATH_MAX, '\0');
  const ssize_t length = readlink(path.c_str(), target.data(), target.size());
  if (length < 0) ThrowErrno(subject);
  if (static_cast<std::size_t>(length) == target.size()) throw Failure(subject, std::strerror(ENAMETOOLONG));
  target.resize(static_cast<std::size_t>(length));
  return target;
}

// If `directory` is this process's descriptor directory in /proc (as
// /proc/self/fd, /dev/fd and /proc/thread-self/fd are), and `base` a
// descriptor number, that number.
std::optional<int> OwnDescriptor(const std::string &directory, const std::string &base) {
  if (base.empty() || base.size() > 9 || base.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(directory.c_str(), nullptr), &std::free);
  if (!real) return std::nullopt;
  const std::string process = "/proc/" + std::to_string(getpid());
  const std::string thread = process + "/task/" + std::to_string(syscall(SYS_gettid));
  if (real.get() != process + "/fd" && real.get() != thread + "/fd") return std::nullopt;
  return std::stoi(base);
}

}  // namespace

std::string DirectoryOf(const std::string &path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string &path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Destination Resolve(const std::string &name) {
  std::string path = name;
  for (int hops = 0; hops <= 40; ++hops) {
    const std::string directory = DirectoryOf(path);
    // Links in /proc (what /dev/stdout and /dev/fd/N lead to) name open
    // files rather than paths: what they lead to is written, never replaced.
    struct statfs system;
    if (statfs(directory.c_str(), &system) == 0 && system.f_type == PROC_SUPER_MAGIC) {
      if (const std::optional<int> descriptor = OwnDescriptor(directory, BaseOf(path)))
        return {.kind = Destination::Kind::kOwnDescriptor, .path = path, .descriptor = *descriptor};
      return {.kind = Destination::Kind::kDirect, .path = path};
    }
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
      if (errno == ENOENT) return {.kind = Destination::Kind::kNew, .path = path};
      ThrowErrno(name);
    }
    if (S_ISLNK(status.st_mode)) {
      // A link is written through: the file it leads to is the output.
      const std::string target = ReadLink(path, name);
      path = target.starts_with('/') ? target : directory + "/" + target;
      continue;
    }
    if (S_ISDIR(status.st_mode)) throw Failure(name, std::strerror(EISDIR));
    if (S_ISREG(status.st_mode)) return {.kind = Destination::Kind::kRegular, .path = path, .status = status};
    return {.kind = Destination::Kind::kDirect, .path = path};
  }
  throw Failure(name, std::strerror(ELOOP));
}

}  // namespace compatcrypt::cli
