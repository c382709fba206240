// Helpers shared by the test suites: hex, random bytes, temporary files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace compatcrypt::test {

using Bytes = std::vector<unsigned char>;

Bytes FromHex(std::string_view hex);
std::string ToHex(const unsigned char *data, std::size_t size);
inline std::string ToHex(const Bytes &bytes) { return ToHex(bytes.data(), bytes.size()); }

// Random bytes with about half of them 0x80 or above.
Bytes RandomBytes(std::mt19937_64 &rng, std::size_t size);

// A directory of its own under the system's temporary directory, removed
// with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::filesystem::path &path() const { return path_; }
  std::filesystem::path Write(const std::string &name, const Bytes &contents) const;

 private:
  std::filesystem::path path_;
};

}  // namespace compatcrypt::test
