#include "support/test_support.h"

#include <fstream>
#include <stdexcept>

namespace compatcrypt::test {

Bytes FromHex(std::string_view hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw std::invalid_argument("not a hex digit");
  };
  if (hex.size() % 2 != 0) throw std::invalid_argument("odd hex length");
  Bytes bytes(hex.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
  return bytes;
}

std::string ToHex(const unsigned char *data, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    hex.push_back(kDigits[data[i] >> 4]);
    hex.push_back(kDigits[data[i] & 15]);
  }
  return hex;
}

TempDir::TempDir() {
  std::random_device seed;
  path_ = std::filesystem::temp_directory_path() / ("compatcrypt-test-" + std::to_string(seed()));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::WriteBytes(const std::string &name, const unsigned char *data,
                                          std::size_t size) const {
  const auto file = path_ / name;
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

}  // namespace compatcrypt::test
