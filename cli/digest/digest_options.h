// What the digest command was asked to do, as its options say.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compatcrypt::cli {

struct DigestOptions {
  std::vector<std::string> files;  // none: standard input; with check, the lists
  std::uint64_t offset = 0;        // 0 to 2^63 - 1
  bool check = false;              // -c: files are lists of digest lines to verify
  bool tag = false;                // print (and read) "compatcrypt (NAME) = HEX" lines
  bool quiet = false;              // check: no line for files that match
  bool status = false;             // check: print nothing; the exit status tells
  bool strict = false;             // check: malformed lines make the exit status 1
  bool warn = false;               // check: report each malformed line
  bool ignoreMissing = false;      // check: no failure for files that do not exist
  unsigned jobs = 0;               // threads digesting at once; 0: the CPUs the tool may use
  std::uint64_t chunkSize = 0;     // the smallest piece a file is split into; 0: the default
};

}  // namespace compatcrypt::cli
