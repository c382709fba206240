// Paths as the tool's outputs see them: where a name leads once its
// symbolic links are followed, and what is there (nothing yet, a regular
// file, something written in place, or one of the tool's own descriptors
// reached through /proc).
#pragma once

#include <sys/stat.h>

#include <string>

namespace compatcrypt::cli {

// A name's directory ("." for a bare name) and last component.
std::string DirectoryOf(const std::string &path);
std::string BaseOf(const std::string &path);

// Where an output name leads, its symbolic links followed one by one.
struct Destination {
  enum class Kind {
    kNew,            // `path` does not exist: a new file
    kRegular,        // `path` is an existing regular file
    kDirect,         // `path` is written in place: a device, a pipe, a /proc link
    kOwnDescriptor,  // one of the tool's own descriptors
  };
  Kind kind;
  std::string path;
  struct stat status = {};
  int descriptor = -1;
};

// Throws Failure (under `name`) for a directory, a loop of links, or a
// name that cannot be looked up.
Destination Resolve(const std::string &name);

}  // namespace compatcrypt::cli
